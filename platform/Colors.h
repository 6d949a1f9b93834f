#pragma once
// Text that stays readable where the program fixes a colour of its own. A desktop theme may turn
// the text light, and a pale background the program keeps would then carry unreadable rows.

#include <QColor>
#include <QPalette>
#include <initializer_list>

class QWidget;

namespace purgala {

// The least contrast text needs against its background (the WCAG measure, from 1 to 21).
inline constexpr double kMinTextContrast = 4.5;

// The WCAG contrast ratio of two opaque colours.
double ContrastRatio(const QColor& a, const QColor& b);

// The first of `preferred` that reads on `background`; when none does, black or white,
// whichever contrasts more.
QColor ReadableTextColor(const QColor& background, std::initializer_list<QColor> preferred);

// A paler `text` for `background` that still reads on it at kMinTextContrast: for rows to tell
// apart without hiding them, under light and dark themes alike.
QColor MutedTextColor(const QColor& background, const QColor& text);

// Gives `palette`, in `textRole`, the theme's colour where it reads on `background` and black
// or white where it does not. Disabled text keeps the theme's colour: it is meant to look faint.
void SetReadableText(QPalette& palette, QPalette::ColorRole textRole, const QColor& background);

// Gives `palette` the fixed `background` in `backgroundRole` and readable text on it in
// `textRole`.
void SetFixedBackground(QPalette& palette, QPalette::ColorRole backgroundRole,
                        QPalette::ColorRole textRole, const QColor& background);

// Gives `widget` the theme's own colour in `role` again where its parent's palette set another.
void KeepThemeColor(QWidget& widget, QPalette::ColorRole role);

}  // namespace purgala
