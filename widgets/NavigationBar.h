#pragma once
// The bar at the top of the navigation stack: a blue-grey gradient with the
// top screen's title in the middle and, below the root, a back button
// labelled with the title of the screen underneath.
//
// Thread rule: main thread only.

#include <QAbstractButton>
#include <QFont>
#include <QRect>
#include <QWidget>

namespace fieldmon {

class BackButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit BackButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
};

class NavigationBar : public QWidget {
    Q_OBJECT
public:
    explicit NavigationBar(QWidget* parent = nullptr);

    void setTitle(const QString& title);
    const QString& title() const { return title_; }
    // An empty back title hides the back button.
    void setBackTitle(const QString& title);
    BackButton* backButton() const { return back_; }

    // Where and how the title is drawn: centred on the bar while it fits
    // between the back button and its mirror image; otherwise in the room
    // right of the back button, in a font that shrinks from 20 to 14 points
    // before the text is cut with an ellipsis.
    struct TitleLayout {
        QRect rect;
        QFont font;
        QString text;
    };
    TitleLayout titleLayout() const;

signals:
    void backPressed();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void layoutButton();
    QString title_;
    BackButton* back_;
};

} // namespace fieldmon
