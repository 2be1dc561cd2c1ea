#pragma once

#include <QProxyStyle>

// The application's own style, with the arrows of the menu bar's and the tool
// bar's extension buttons made only when one is drawn. The style reads those
// from image files as the bars are built, and the toolkit's image reader loads
// every image-format plugin installed to ask each whether it reads PNG: the
// window's first paint would wait for that, and neither bar of this window
// holds enough to show its extension button.
class DeferredIconStyle final : public QProxyStyle
{
public:
    QIcon standardIcon(StandardPixmap which, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
