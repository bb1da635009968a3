#include "platform/qt/QtAlerts.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace fieldmon::platform {

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

Alerts::AlertId QtAlerts::show(AlertSpec spec)
{
    AlertId id = nextId_++;
    auto* box = new QMessageBox(parent_.data());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setModal(false);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(QString::fromStdString(spec.title));
    box->setText(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(spec.title).toHtmlEscaped()));
    box->setInformativeText(QString::fromStdString(spec.message).toHtmlEscaped());
    box->setTextFormat(Qt::RichText);

    std::vector<QAbstractButton*> buttons;
    for (const auto& title : spec.buttons)
        buttons.push_back(box->addButton(QString::fromStdString(title), QMessageBox::AcceptRole));
    if (buttons.empty())
        buttons.push_back(box->addButton(QMessageBox::Ok));
    box->setEscapeButton(buttons.front());
    box->setDefaultButton(qobject_cast<QPushButton*>(buttons.front()));

    auto onButton = std::move(spec.onButton);
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

} // namespace fieldmon::platform
