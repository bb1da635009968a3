#include "widgets/QtAlerts.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScroller>
#include <QString>

#include <algorithm>

namespace fieldmon {

namespace {

// A phone alert: a dark blue panel, the title and message centred in white,
// wide buttons underneath.
void styleLikeThePhone(QMessageBox* box)
{
    box->setStyleSheet(QStringLiteral(
        "QMessageBox { background-color: #1f3566; border: 2px solid #d8dde8; }"
        "QLabel { color: white; font-size: 15px; }"
        "QPushButton { color: white; font-weight: bold; font-size: 15px; min-width: 100px;"
        " min-height: 30px; border: 1px solid #0d1a35; border-radius: 6px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7b8db3, stop:1 #3d5384); }"
        "QPushButton:pressed { background: #2b3d66; }"));
    if (auto* buttons = box->findChild<QDialogButtonBox*>())
        buttons->setCenterButtons(true);
    for (const char* name : {"qt_msgbox_label", "qt_msgbox_informativelabel"}) {
        if (auto* label = box->findChild<QLabel*>(QLatin1String(name))) {
            label->setAlignment(Qt::AlignCenter);
            label->setMinimumWidth(230);
            label->setWordWrap(true);
        }
    }
}

// A message taller than the window (an "XML parse error" with many entries)
// would push the buttons below the window's edge, and the user could never
// press "OK". Such a message scrolls inside the alert instead, which then
// fits the window with its buttons in view. Shorter messages are left alone.
// Runs once the box is shown, when Qt has given it its size.
void fitWithin(QMessageBox* box, int windowHeight)
{
    constexpr int kScrollBar = 8;
    const int excess = box->height() - (windowHeight - 2 * QtAlerts::kWindowMargin);
    auto* grid = qobject_cast<QGridLayout*>(box->layout());
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (excess <= 0 || !grid || !label)
        return;
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("fieldmon_alert_message"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A thin bar, like a phone's scroll indicator.
    scroll->setStyleSheet(QStringLiteral(
        "QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }"
        "QScrollBar:vertical { width: 6px; background: transparent; margin: 0; }"
        "QScrollBar::handle:vertical { background: #9aa9c9; border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    const int width = label->width();
    const int height = std::max(label->height() - excess, 3 * label->fontMetrics().height());
    delete grid->replaceWidget(label, scroll);
    scroll->setWidget(label);
    scroll->setFixedSize(width + kScrollBar, height);
    scroll->show(); // added to a box that is already shown
    // A finger drags the message as it drags a list.
    QScroller::grabGesture(scroll->viewport(), QScroller::LeftMouseButtonGesture);
    // The box keeps its own size fixed; it shrinks by what the message lost.
    box->setFixedSize(box->width() + kScrollBar, box->height() - (label->height() - height));
}

} // namespace

QString QtAlerts::withBreakPoints(const QString& text)
{
    constexpr int kLongestRun = 16;
    QString out;
    out.reserve(text.size() + text.size() / kLongestRun + 1);
    int run = 0;
    for (QChar c : text) {
        out += c;
        if (c.isSpace() || c == u'/' || c == u'-') {
            run = 0; // Qt breaks here by itself
            continue;
        }
        if (c.isHighSurrogate())
            continue; // never between the halves of one character
        if (c == u'_' || ++run >= kLongestRun) {
            out += kBreakPoint;
            run = 0;
        }
    }
    return out;
}

QtAlerts::QtAlerts(QWidget* parent) : parent_(parent) {}

QtAlerts::~QtAlerts()
{
    dismissAll();
}

void QtAlerts::dismissAll()
{
    // Forget them first: a box that reports its closing finds nothing to answer.
    auto open = std::move(open_);
    open_.clear();
    for (auto& [id, box] : open)
        delete box.data();
}

platform::Alerts::AlertId QtAlerts::show(platform::AlertContent content)
{
    AlertId id = nextId_++;
    auto* box = new QMessageBox(parent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    // The window waits for the answer, as the phone's alerts make it: behind
    // an alert nothing else can be touched (nor a second alert raised by a
    // second touch of the same row).
    box->setWindowModality(parent_ ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(QString::fromStdString(content.title));
    box->setText(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(content.title).toHtmlEscaped()));
    box->setInformativeText(withBreakPoints(QString::fromStdString(content.message)).toHtmlEscaped());
    box->setTextFormat(Qt::RichText);
    styleLikeThePhone(box);

    std::vector<QAbstractButton*> buttons;
    for (const auto& title : content.buttons)
        buttons.push_back(box->addButton(QString::fromStdString(title), QMessageBox::AcceptRole));
    if (buttons.empty())
        buttons.push_back(box->addButton(QMessageBox::Ok));
    box->setEscapeButton(buttons.front());
    box->setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));

    auto onButton = std::move(content.onButton);
    // Each handler first checks that the alert is still open: a box that
    // dismiss() closed, or whose button already answered, reports nothing.
    auto answer = [this, id, onButton](int index) {
        if (open_.erase(id) == 0)
            return;
        if (onButton)
            onButton(index);
    };
    QObject::connect(box, &QMessageBox::buttonClicked, box, [answer, buttons](QAbstractButton* b) {
        int index = 0;
        for (std::size_t i = 0; i < buttons.size(); ++i)
            if (buttons[i] == b)
                index = static_cast<int>(i);
        answer(index);
    });
    // Closed by the window system without a button: the escape button.
    QObject::connect(box, &QDialog::finished, box, [answer] { answer(0); });
    open_[id] = box;
    box->show();
    if (parent_) {
        fitWithin(box, parent_->window()->height());
        QRect area = parent_->window()->geometry();
        box->adjustSize();
        box->move(area.center() - QPoint(box->width() / 2, box->height() / 2));
    }
    return id;
}

void QtAlerts::dismiss(AlertId id, int /*buttonIndex*/, bool /*animated*/)
{
    auto it = open_.find(id);
    if (it == open_.end())
        return;
    QPointer<QMessageBox> box = it->second;
    open_.erase(it);
    if (box)
        box->close(); // presses nothing: the handlers find the alert gone
}

QMessageBox* QtAlerts::box(AlertId id) const
{
    auto it = open_.find(id);
    return it == open_.end() ? nullptr : it->second.data();
}

} // namespace fieldmon
