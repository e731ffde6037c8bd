#pragma once

#include <QToolButton>

// A button that draws its image and caption as one block centred in it, the image at its own
// size and on whole pixels, so that the artwork stays sharp; the style draws only the frame. The
// caption stands under the image, or beside it with Qt::ToolButtonTextBesideIcon.
class ImageButton : public QToolButton {
public:
    using QToolButton::QToolButton;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static constexpr int kGap = 1;
    static constexpr int kPadding = 6;
};
