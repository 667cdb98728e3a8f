#pragma once
// Binds widgets to the settings store: control properties by name, and window positions.
#include <QList>
#include <QRect>
#include <Qt>

class QWidget;

namespace hanabira {

class TMWIniFile;

// Gives a control its extent along o as the settings do: a splitter child of a window not shown yet
// keeps it until it is shown, and reads it back as given until then.
void SetWidgetExtent(QWidget* control, Qt::Orientation o, int value);
// Registers the storage key control->objectName() + "." + propertyName. Property names, matched
// without regard to case: "width" and "height" (integer text), "lines" (a QTextEdit's or
// QPlainTextEdit's text, each line followed by CR LF). Any other name reads as empty text and
// ignores a set.
void RegisterWidgetProperty(TMWIniFile& ini, QWidget* control, const char* propertyName);

// Writes objectName() + ".Pos": the window's normal (not minimised, not maximised) geometry.
void StoreFormPos(TMWIniFile& ini, QWidget* window);
// Puts the window where StoreFormPos found it, on a screen that is still there; keepSize keeps the
// window's current width and height.
void RestoreFormPos(TMWIniFile& ini, QWidget* window, bool keepSize);

// The rect itself when enough of it shows on one of the areas; otherwise moved (and shrunk where it
// does not fit) into the nearest area.
QRect FitOnScreens(const QRect& rect, const QList<QRect>& availableAreas);

}  // namespace hanabira
