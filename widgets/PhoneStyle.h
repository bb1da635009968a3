#pragma once
// The look shared by the app's screens: a phone-style grouped table on a
// pinstriped background, a blue-grey navigation bar, and fonts given in
// pixels so that a screen looks the same at any desktop DPI (the app's
// coordinates are the phone's points: a 320 × 480 window).
//
// Thread rule: main thread only (QFont and QColor are made on demand).

#include <QColor>
#include <QFont>
#include <QString>

#include <cstddef>
#include <string_view>

namespace fieldmon::phone {

// Window geometry in points.
inline constexpr int kScreenWidth = 320;
inline constexpr int kScreenHeight = 480;
inline constexpr int kStatusBarHeight = 20;
inline constexpr int kNavigationBarHeight = 44;
inline constexpr int kPageHeight = kScreenHeight - kStatusBarHeight - kNavigationBarHeight; // 416

// The system font at `pixels` size.
inline QFont systemFont(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// The most characters of one text from a device that any screen lays out.
// A line of the page is 320 points: even at the smallest font no more than
// this can show, and Qt's layout of a longer text (an 11 MB label once) costs
// time and memory for nothing. Texts are cut to this before layout, not
// elided after it; a cut text ends in "…".
inline constexpr qsizetype kMaxShownChars = 1024;

// Text from a device shown on one row: at most kMaxShownChars characters;
// line breaks, tabs and other control characters become blanks, so a row
// never grows a second line.
inline QString singleLine(QString text)
{
    if (text.size() > kMaxShownChars) {
        qsizetype end = kMaxShownChars - 1;
        if (text[end - 1].isHighSurrogate())
            --end; // not half a character
        text.truncate(end);
        text += QChar(0x2026);
    }
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

// The same for a device's UTF-8 bytes: cut before they become a QString, so
// a huge text is never converted whole.
inline QString deviceLine(std::string_view utf8)
{
    constexpr std::size_t kMaxBytes = 4 * std::size_t(kMaxShownChars);
    if (utf8.size() > kMaxBytes) {
        std::size_t end = kMaxBytes;
        while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        QString cut = QString::fromUtf8(utf8.data(), qsizetype(end));
        cut.truncate(kMaxShownChars - 1);
        return singleLine(cut + QChar(0x2026));
    }
    return singleLine(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
}

inline QColor valueBlue() { return QColor(0x38, 0x54, 0x87); }
inline QColor headerText() { return QColor(0x4c, 0x56, 0x6c); }
inline QColor separator() { return QColor(0xab, 0xab, 0xab); }
inline QColor stripeDark() { return QColor(0xc5, 0xcc, 0xd4); }
inline QColor stripeLight() { return QColor(0xcb, 0xd2, 0xd8); }
inline QColor selectionTop() { return QColor(0x05, 0x8c, 0xf5); }
inline QColor selectionBottom() { return QColor(0x01, 0x5e, 0xe6); }
inline QColor barTop() { return QColor(0xb0, 0xbc, 0xcd); }
inline QColor barBottom() { return QColor(0x6d, 0x84, 0xa2); }

} // namespace fieldmon::phone
