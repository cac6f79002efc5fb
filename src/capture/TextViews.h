#pragma once

#include <QAnyStringView>
#include <QString>

#include <algorithm>
#include <type_traits>

// Character-by-character access to the texts of the capture list without copying them. Internal
// to the capture library.
namespace TextViews {

using Utf8View = q_no_char8_t::QUtf8StringView;

// Calls f with a view whose elements are single characters (Latin-1 or UTF-16 code units); UTF-8
// views, which only callers outside the library pass, are decoded first.
template <typename F>
decltype(auto) withCharacters(QAnyStringView text, F &&f)
{
    return text.visit([&](auto view) -> decltype(auto) {
        if constexpr (std::is_same_v<decltype(view), Utf8View>) {
            const QString decoded = QString::fromUtf8(view.data(), view.size());
            return f(QStringView(decoded));
        } else {
            return f(view);
        }
    });
}

inline char16_t characterAt(QLatin1String view, qsizetype i)
{
    return static_cast<uchar>(view.data()[i]);
}

inline char16_t characterAt(QStringView view, qsizetype i)
{
    return view[i].unicode();
}

// dst = the first maxLength characters of text, reusing dst's memory when it can.
inline void assignLeft(QString &dst, QAnyStringView text, qsizetype maxLength)
{
    withCharacters(text, [&](auto view) {
        const qsizetype n = std::min(view.size(), maxLength);
        if (dst.size() != n) // mostly the same size again (timecodes, item numbers)
            dst.resize(n);
        QChar *out = dst.data();
        for (qsizetype i = 0; i < n; ++i)
            out[i] = QChar(characterAt(view, i));
    });
}

// dst += text, keeping at most maxLength characters in dst.
inline void appendLeft(QString &dst, QAnyStringView text, qsizetype maxLength)
{
    withCharacters(text, [&](auto view) {
        const qsizetype room = maxLength - dst.size();
        const qsizetype n = std::min(view.size(), room);
        if (n <= 0)
            return;
        const qsizetype at = dst.size();
        dst.resize(at + n);
        QChar *out = dst.data() + at;
        for (qsizetype i = 0; i < n; ++i)
            out[i] = QChar(characterAt(view, i));
    });
}

} // namespace TextViews
