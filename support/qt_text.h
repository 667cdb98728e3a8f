#pragma once
// The one place where text crosses between the internal Shift_JIS strings and Qt's QString.
#include <QString>

#include <string>
#include <string_view>

namespace hanabira {

QString SjisToQString(std::string_view sjis);
std::string QStringToSjis(const QString& text);
// A UTF-8 source literal as QString (for captions and messages).
inline QString Tr(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace hanabira
