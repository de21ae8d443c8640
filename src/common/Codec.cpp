#include "common/Codec.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace Cp1251 {

namespace {

// The characters of bytes 0x80..0xFF. 0x98 has no character of its own and stands for U+0098, as
// the system converter reads and writes it.
constexpr char16_t High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// The reverse table over the characters the high bytes use: U+0080..U+04FF and U+2000..U+212F.
struct TReverse {
    std::array<unsigned char, 0x480> Low{};   // U+0080..U+04FF
    std::array<unsigned char, 0x130> Punct{}; // U+2000..U+212F
    constexpr TReverse() {
        for (int i = 0; i < 128; ++i) {
            const char16_t c = High[i];
            if (c >= 0x80 && c < 0x500) Low[c - 0x80] = static_cast<unsigned char>(0x80 + i);
            if (c >= 0x2000 && c < 0x2130) Punct[c - 0x2000] = static_cast<unsigned char>(0x80 + i);
        }
    }
};
constexpr TReverse Reverse;

constexpr char Substitute = 0x1A;

} // namespace

// Table-driven: the journal and the transaction file encode every line, and a lookup costs a
// fraction of a general converter's call.
void EncodeAppend(QByteArray& out, const QString& text) {
    const qsizetype start = out.size();
    out.resize(start + text.size());
    char* o = out.data() + start;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.utf16());
    const char16_t* end = p + text.size();
    for (; p < end; ++p) {
        // Runs of plain ASCII, four characters at a time: a .TRI line is mostly ASCII.
        while (end - p >= 4) {
            std::uint64_t four;
            std::memcpy(&four, p, sizeof four);
            if (four & 0xFF80FF80FF80FF80ULL) break;
            o[0] = static_cast<char>(p[0]);
            o[1] = static_cast<char>(p[1]);
            o[2] = static_cast<char>(p[2]);
            o[3] = static_cast<char>(p[3]);
            o += 4;
            p += 4;
        }
        if (p == end) break;
        const char16_t c = *p;
        unsigned char b = 0;
        if (c < 0x80) {
            b = static_cast<unsigned char>(c);
        } else if (c < 0x500) {
            b = Reverse.Low[c - 0x80];
        } else if (c >= 0x2000 && c < 0x2130) {
            b = Reverse.Punct[c - 0x2000];
        } else if (c >= 0xD800 && c < 0xDC00 && p + 1 < end && p[1] >= 0xDC00 && p[1] < 0xE000) {
            ++p; // a character beyond the basic plane: one substitute for the pair
        }
        *o++ = b || c == 0 ? static_cast<char>(b) : Substitute;
    }
    out.truncate(o - out.constData());
}

bool Holds(QChar ch) {
    const char16_t c = ch.unicode();
    if (c < 0x80) return true;
    if (c < 0x500) return Reverse.Low[c - 0x80] != 0;
    return c >= 0x2000 && c < 0x2130 && Reverse.Punct[c - 0x2000] != 0;
}

QByteArray Encode(const QString& text) {
    QByteArray out;
    EncodeAppend(out, text);
    return out;
}

QString Decode(const QByteArray& bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t* o = reinterpret_cast<char16_t*>(out.data());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        *o++ = b < 0x80 ? char16_t(b) : High[b - 0x80];
    }
    return out;
}

} // namespace Cp1251
