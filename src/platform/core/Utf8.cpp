#include "platform/core/Utf8.h"

#include <algorithm>

namespace platform {

namespace {

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The length of the sequence a lead byte starts by its high bits (1 for a single byte, and for a
// byte that cannot start a sequence).
int SequenceLength(unsigned char lead)
{
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

} // namespace

bool IsValidUtf8(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // C0, C1 and F5-FF never lead; the second byte's range rules out overlong forms (E0, F0),
        // surrogates (ED) and code points above U+10FFFF (F4).
        if (lead < 0xC2 || lead > 0xF4)
            return false;
        const int length = SequenceLength(lead);
        const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        if (size - i < length)
            return false;
        if (data[i + 1] < low || data[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k) {
            if (!IsContinuation(data[i + k]))
                return false;
        }
        i += length;
    }
    return true;
}

qsizetype WholeUtf8Length(const QByteArray &bytes, qsizetype maxBytes)
{
    const qsizetype end = std::clamp<qsizetype>(maxBytes, 0, bytes.size());
    // The lead byte of the last sequence, at most three continuation bytes back.
    qsizetype lead = end;
    int continuation = 0;
    while (lead > 0 && continuation < 4 && IsContinuation(static_cast<unsigned char>(bytes[lead - 1]))) {
        --lead;
        ++continuation;
    }
    if (lead == 0)
        return end;
    const int length = SequenceLength(static_cast<unsigned char>(bytes[lead - 1]));
    return length > 1 && continuation + 1 < length ? lead - 1 : end;
}

} // namespace platform
