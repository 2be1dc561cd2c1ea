#include "deferrediconstyle.h"

#include <optional>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPointer>
#include <QStyleOption>

namespace {

// Stands for the base style's icon and asks the style for it the first time
// it is looked at. The sizes an engine is given are in device pixels; the
// icon's own calls take them in the application's, so they are divided back.
class DeferredIconEngine final : public QIconEngine
{
public:
    DeferredIconEngine(QStyle *style, QStyle::StandardPixmap which, Qt::LayoutDirection direction)
        : style(style), which(which), direction(direction)
    {
    }

    // As the toolkit's own engine paints: the pixmap for the rectangle, drawn into all of it.
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr =
            qApp->testAttribute(Qt::AA_UseHighDpiPixmaps) ? painter->device()->devicePixelRatioF() : 1;
        painter->drawPixmap(rect, pixmap(rect.size() * dpr, mode, state));
    }
    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size / ratio(), mode, state);
    }
    QSize actualSize(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size / ratio(), mode, state) * ratio();
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) const override
    {
        return icon().availableSizes(mode, state);
    }
    QIconEngine *clone() const override { return new DeferredIconEngine(*this); }
    void virtual_hook(int id, void *data) override
    {
        switch (id) {
        case QIconEngine::IsNullHook:
            *static_cast<bool *>(data) = icon().isNull();
            return;
        case QIconEngine::ScaledPixmapHook: {
            auto *argument = static_cast<QIconEngine::ScaledPixmapArgument *>(data);
            argument->pixmap = pixmap(argument->size, argument->mode, argument->state);
            return;
        }
        default:
            QIconEngine::virtual_hook(id, data);
        }
    }

private:
    // The ratio the icon's own calls scale by, as the toolkit works it out for no window in particular.
    static qreal ratio()
    {
        return qApp->testAttribute(Qt::AA_UseHighDpiPixmaps) ? qMax<qreal>(1, qApp->devicePixelRatio()) : 1;
    }

    QIcon icon() const
    {
        if (!made && style) {
            QStyleOption option;
            option.direction = direction;
            made = style->standardIcon(which, &option);
        }
        return made.value_or(QIcon());
    }

    QPointer<QStyle> style;
    QStyle::StandardPixmap which;
    Qt::LayoutDirection direction;
    mutable std::optional<QIcon> made;
};

} // namespace

QIcon DeferredIconStyle::standardIcon(StandardPixmap which, const QStyleOption *option,
                                      const QWidget *widget) const
{
    if (which != SP_ToolBarHorizontalExtensionButton && which != SP_ToolBarVerticalExtensionButton)
        return QProxyStyle::standardIcon(which, option, widget);
    const Qt::LayoutDirection direction = option ? option->direction : QGuiApplication::layoutDirection();
    return QIcon(new DeferredIconEngine(baseStyle(), which, direction));
}
