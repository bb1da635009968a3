#include "app/automation/ScreenReader.h"

#include "app/AppWindow.h"
#include "widgets/NavigationStack.h"
#include "widgets/QtAlerts.h"
#include "widgets/Screen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QImageWriter>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTextDocumentFragment>

namespace fieldmon::automation {

namespace {

QJsonArray pair(QPoint p)
{
    return QJsonArray{p.x(), p.y()};
}

QString plainText(const QString& text)
{
    QString plain = Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText() : text;
    return plain.remove(QtAlerts::kBreakPoint);
}

std::vector<QMessageBox*> shownAlerts()
{
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes.push_back(box);
    return boxes;
}

} // namespace

NavigationStack& ScreenReader::stack() const
{
    return *window_.navigationStack();
}

Screen* ScreenReader::top() const
{
    return stack().top();
}

QPoint ScreenReader::pageOrigin() const
{
    return stack().mapTo(&window_, stack().pageRect().topLeft());
}

QJsonObject ScreenReader::screen() const
{
    NavigationStack& nc = stack();
    QJsonObject out;
    Screen* s = nc.top();
    bool landscape = window_.orientation() == Screen::Orientation::Landscape;
    out.insert(QStringLiteral("orientation"), landscape ? QStringLiteral("landscape") : QStringLiteral("portrait"));
    out.insert(QStringLiteral("depth"), nc.depth());
    out.insert(QStringLiteral("bar"), !nc.isNavigationBarHidden());
    BackButton* back = nc.bar()->backButton();
    if (!nc.isNavigationBarHidden() && back->isVisible())
        out.insert(QStringLiteral("back"), back->text());
    out.insert(QStringLiteral("page_origin"), pair(pageOrigin()));
    QRect page = nc.pageRect();
    out.insert(QStringLiteral("page_size"), QJsonArray{page.width(), page.height()});
    out.insert(QStringLiteral("sliding"), nc.isAnimating());
    out.insert(QStringLiteral("alert"), shownAlert() != nullptr);
    if (!s)
        return out;
    out.insert(QStringLiteral("title"), s->title());
    out.insert(QStringLiteral("kind"), s->automationKind());
    s->inspect(out);
    return out;
}

QRect ScreenReader::rowFrame(GroupedTableView& table, IndexPath path) const
{
    QRect r = table.visualRectForRow(path);
    QJsonArray f = Screen::pageFrame(table.viewport(), r);
    return QRect(f[0].toInt(), f[1].toInt(), f[2].toInt(), f[3].toInt());
}

std::optional<QJsonArray> ScreenReader::rows() const
{
    Screen* s = top();
    GroupedTableView* table = s ? s->automationTable() : nullptr;
    if (!table)
        return std::nullopt;
    QJsonArray sections;
    for (int si = 0; si < table->numberOfSections(); ++si) {
        QJsonObject section;
        if (!table->headerTitle(si).isEmpty())
            section.insert(QStringLiteral("title"), table->headerTitle(si));
        QJsonArray rows;
        for (int r = 0; r < table->numberOfRows(si); ++r) {
            QJsonObject row;
            if (TableCell* cell = table->cellForRow({si, r}))
                cell->inspect(row);
            QRect f = rowFrame(*table, {si, r});
            row.insert(QStringLiteral("frame"), QJsonArray{f.x(), f.y(), f.width(), f.height()});
            rows.append(row);
        }
        section.insert(QStringLiteral("rows"), rows);
        sections.append(section);
    }
    return sections;
}

QMessageBox* ScreenReader::shownAlert()
{
    // With several alerts up, the one on top takes the input: the others
    // wait under it. The list of windows is in no stacking order.
    if (auto* top = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); top && top->isVisible())
        return top;
    auto boxes = shownAlerts();
    return boxes.empty() ? nullptr : boxes.back();
}

int ScreenReader::shownAlertCount()
{
    return static_cast<int>(shownAlerts().size());
}

QJsonObject ScreenReader::alert()
{
    QMessageBox* box = shownAlert();
    if (!box)
        return {{QStringLiteral("shown"), false}};
    QJsonArray buttons;
    for (QAbstractButton* b : box->buttons())
        buttons.append(b->text());
    QString message = plainText(box->informativeText());
    if (message.isEmpty())
        message = plainText(box->text());
    return {{QStringLiteral("shown"), true},
            {QStringLiteral("title"), box->windowTitle()},
            {QStringLiteral("message"), message},
            {QStringLiteral("buttons"), buttons},
            {QStringLiteral("count"), shownAlertCount()}};
}

QByteArray ScreenReader::screenshot() const
{
    QPixmap picture = window_.grab();
    // Alerts are windows of their own; on the phone they sit over the
    // screen, so the picture shows them there, on a dimmed screen.
    QPainter painter(&picture);
    for (QMessageBox* box : shownAlerts()) {
        QPixmap alert = box->grab();
        QSize room = picture.size() / picture.devicePixelRatio();
        QSize size = alert.size() / alert.devicePixelRatio();
        painter.fillRect(QRect(QPoint(0, 0), room), QColor(0, 0, 0, 90));
        painter.drawPixmap(QPoint((room.width() - size.width()) / 2, (room.height() - size.height()) / 2), alert);
    }
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (!QImageWriter(&buffer, "png").write(picture.toImage()))
        return {};
    return png;
}

} // namespace fieldmon::automation
