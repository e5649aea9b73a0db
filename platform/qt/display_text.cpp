#include "platform/qt/display_text.hpp"

namespace quillmark::platform::qt {
namespace {

constexpr QChar zeroWidthSpace(0x200B);
// Long enough that ordinary words never get an inner break opportunity.
constexpr int longestUnbrokenRun = 24;

} // namespace

QString toQString(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString buttonTitle(const std::string& title)
{
    return toQString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString wrappableText(const QString& source)
{
    QString shown;
    shown.reserve(source.size() + source.size() / 8);
    int run = 0;
    for (qsizetype i = 0; i < source.size(); ++i) {
        const QChar c = source.at(i);
        shown.append(c);
        if (c.isSpace()) {
            run = 0;
            continue;
        }
        ++run;
        // Never split a surrogate pair.
        const bool pairContinues = c.isHighSurrogate();
        if (!pairContinues && (c == QLatin1Char('/') || run >= longestUnbrokenRun)) {
            shown.append(zeroWidthSpace);
            run = 0;
        }
    }
    return shown;
}

} // namespace quillmark::platform::qt
