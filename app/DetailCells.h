#pragma once
// The cells of the device detail screen, one class per kind of row:
//   InfoCell    rows 0 to 3 and the link rows: a title on the left and the value in blue on
//               the right; the value may take what the title leaves, and
//               one too long ends in "…"
//   ToggleCell  row 4: the title and the service mode switch
//   ButtonCell  rows 5 to 7: a centred text; the Connect row also carries
//               the spinner
// Each makes itself with the reuse identifier of its kind and tags its parts
// with the screen's tags (DeviceDetailScreen::Tag).
//
// Thread rule: main thread only.

#include "widgets/TableCell.h"

#include <QString>

class QLabel;

namespace fieldmon {

class ActivitySpinner;
class ToggleSwitch;

inline const QString kInfoIdentifier = QStringLiteral("ClientDetailViewIdentifier");
inline const QString kToggleIdentifier = QStringLiteral("ClientDetailViewIdentifierToggle");
inline const QString kSpinIdentifier = QStringLiteral("ClientDetailViewIdentifierButtonSpin");
inline const QString kButtonIdentifier = QStringLiteral("ClientDetailViewIdentifierButton");

class InfoCell : public TableCell {
public:
    InfoCell();
    void set(const QString& title, const QString& value);
    // The value alone, laid out again only when it changed.
    void setValue(const QString& value);
    void inspect(QJsonObject& row) const override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void layout();
    QLabel* title_;
    QLabel* value_;
    QString titleText_;
    QString valueText_;
};

class ToggleCell : public TableCell {
public:
    ToggleCell();
    QLabel* title() const { return title_; }
    ToggleSwitch* toggle() const { return switch_; }
    void inspect(QJsonObject& row) const override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    QLabel* title_;
    ToggleSwitch* switch_;
};

class ButtonCell : public TableCell {
public:
    ButtonCell(const QString& identifier, bool withSpinner);
    ActivitySpinner* spinner() const { return spinner_; }
    void inspect(QJsonObject& row) const override;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    ActivitySpinner* spinner_ = nullptr;
};

} // namespace fieldmon
