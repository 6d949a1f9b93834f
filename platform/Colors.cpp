#include "platform/Colors.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace purgala {

namespace {

// Relative luminance of an sRGB colour, as WCAG defines it.
double Luminance(const QColor& color) {
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) +
           0.0722 * linear(rgb.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor ReadableTextColor(const QColor& background, std::initializer_list<QColor> preferred) {
    for (const QColor& color : preferred) {
        if (color.isValid() && ContrastRatio(color, background) >= kMinTextContrast) {
            return color;
        }
    }
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return ContrastRatio(black, background) >= ContrastRatio(white, background) ? black : white;
}

QColor MutedTextColor(const QColor& background, const QColor& text) {
    const QColor base = ReadableTextColor(background, {text});
    // The palest blend toward the background that still reads: how pale depends on how much
    // contrast the theme leaves to spare.
    const auto blend = [&](double t) {
        const auto mix = [t](int a, int b) { return static_cast<int>(a + (b - a) * t + 0.5); };
        return QColor(mix(base.red(), background.red()), mix(base.green(), background.green()),
                      mix(base.blue(), background.blue()));
    };
    for (int step = 12; step > 0; --step) {
        const QColor candidate = blend(step * 0.05);
        if (ContrastRatio(candidate, background) >= kMinTextContrast) {
            return candidate;
        }
    }
    return base;
}

void SetReadableText(QPalette& palette, QPalette::ColorRole textRole, const QColor& background) {
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, textRole,
                         ReadableTextColor(background, {palette.color(group, textRole)}));
    }
}

void SetFixedBackground(QPalette& palette, QPalette::ColorRole backgroundRole,
                        QPalette::ColorRole textRole, const QColor& background) {
    palette.setColor(backgroundRole, background);
    SetReadableText(palette, textRole, background);
}

void KeepThemeColor(QWidget& widget, QPalette::ColorRole role) {
    // Role by role: a theme's palette marks no role as set, so handed over whole it would lose
    // to the parent's.
    const QPalette theme = QApplication::palette(&widget);
    QPalette palette = widget.palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, role, theme.color(group, role));
    }
    widget.setPalette(palette);
}

}  // namespace purgala
