#include "support/qt_text.h"

#include "support/codepage.h"

namespace hanabira {

QString SjisToQString(std::string_view sjis) {
    const std::string utf8 = SjisToUtf8(sjis);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string QStringToSjis(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToSjis(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

}  // namespace hanabira
