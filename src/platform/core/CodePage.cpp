#include "platform/core/CodePage.h"

#include <QSysInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <mutex>
#include <vector>

#include <iconv.h>
#include <langinfo.h>

namespace platform {

namespace {

const iconv_t InvalidIconv = reinterpret_cast<iconv_t>(-1);

// iconv's name of QString's code units in this machine's byte order.
const char *NativeUtf16Name()
{
    return QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
}

class Utf8CodePage final : public CodePage {
public:
    QString name() const override { return QStringLiteral("UTF-8"); }
    // Qt writes "?" for a lone surrogate, the one thing UTF-8 cannot hold, and U+FFFD for
    // every invalid input sequence.
    QByteArray fromUnicode(const QString &text) const override { return text.toUtf8(); }
    QString toUnicode(const QByteArray &bytes) const override { return QString::fromUtf8(bytes); }
};

// One iconv descriptor for one direction. A descriptor keeps conversion state, so calls are
// serialised; texts are short and conversions rare, so the lock costs nothing worth measuring.
class IconvChannel {
public:
    IconvChannel(const char *to, const char *from)
        : m_descriptor(iconv_open(to, from))
    { }
    ~IconvChannel()
    {
        if (valid())
            iconv_close(m_descriptor);
    }
    IconvChannel(const IconvChannel &) = delete;
    IconvChannel &operator=(const IconvChannel &) = delete;

    bool valid() const { return m_descriptor != InvalidIconv; }

    // Converts input to output; when iconv stops at an input it cannot take, onStop decides what
    // to emit (appended to output) and how many input bytes to skip.
    template <typename OnStop>
    void convert(const char *input, size_t inputSize, QByteArray &output, OnStop onStop) const
    {
        std::lock_guard lock(m_mutex);
        iconv(m_descriptor, nullptr, nullptr, nullptr, nullptr);

        output.resize(static_cast<qsizetype>(inputSize * 2 + 16));
        size_t used = 0;
        char *in = const_cast<char *>(input);
        size_t inLeft = inputSize;
        bool flushing = false;
        for (;;) {
            char *out = output.data() + used;
            size_t outLeft = static_cast<size_t>(output.size()) - used;
            const size_t result = flushing ? iconv(m_descriptor, nullptr, nullptr, &out, &outLeft)
                                           : iconv(m_descriptor, &in, &inLeft, &out, &outLeft);
            const int error = errno;
            used = static_cast<size_t>(out - output.data());
            if (result != static_cast<size_t>(-1)) {
                if (flushing)
                    break;
                flushing = true; // write any closing shift sequence
                continue;
            }
            if (error == E2BIG) {
                output.resize(output.size() * 2);
                continue;
            }
            // EILSEQ (cannot convert here) or EINVAL (input ends inside a sequence).
            output.resize(static_cast<qsizetype>(used));
            const size_t skip = std::min(inLeft, onStop(in, inLeft, error == EINVAL, output));
            used = static_cast<size_t>(output.size());
            output.resize(std::max<qsizetype>(output.size() * 2, 16));
            in += skip;
            inLeft -= skip;
            if (skip == 0)
                inLeft = 0; // nothing can be done with the rest
        }
        output.resize(static_cast<qsizetype>(used));
    }

private:
    iconv_t m_descriptor;
    mutable std::mutex m_mutex;
};

class IconvCodePage final : public CodePage {
public:
    explicit IconvCodePage(const QString &encoding)
        : m_name(encoding)
        , m_encode(encoding.toLatin1().constData(), NativeUtf16Name())
        , m_decode(NativeUtf16Name(), encoding.toLatin1().constData())
        , m_question(encodeQuestionMark())
    { }

    bool valid() const { return m_encode.valid() && m_decode.valid(); }

    QString name() const override { return m_name; }

    QByteArray fromUnicode(const QString &text) const override
    {
        QByteArray result;
        if (text.isEmpty())
            return result;
        const auto *begin = reinterpret_cast<const char *>(text.utf16());
        m_encode.convert(begin, static_cast<size_t>(text.size()) * 2, result,
            [this](const char *at, size_t left, bool, QByteArray &output) -> size_t {
                // One "?" per character the code page lacks; a surrogate pair is
                // one character.
                output += m_question;
                char16_t first;
                std::memcpy(&first, at, 2);
                if (QChar::isHighSurrogate(first) && left >= 4) {
                    char16_t second;
                    std::memcpy(&second, at + 2, 2);
                    if (QChar::isLowSurrogate(second))
                        return 4;
                }
                return 2;
            });
        return result;
    }

    QString toUnicode(const QByteArray &bytes) const override
    {
        QByteArray units;
        if (bytes.isEmpty())
            return QString();
        m_decode.convert(bytes.constData(), static_cast<size_t>(bytes.size()), units,
            [](const char *, size_t, bool, QByteArray &output) -> size_t {
                const char16_t replacement = QChar::ReplacementCharacter;
                output.append(reinterpret_cast<const char *>(&replacement), 2);
                return 1;
            });
        return QString(reinterpret_cast<const QChar *>(units.constData()), units.size() / 2);
    }

private:
    // "?" in the code page itself (ASCII in every code page a locale uses, but ask iconv).
    QByteArray encodeQuestionMark() const
    {
        QByteArray result;
        if (m_encode.valid()) {
            const char16_t mark = u'?';
            m_encode.convert(reinterpret_cast<const char *>(&mark), 2, result,
                [](const char *, size_t, bool, QByteArray &) -> size_t { return 0; });
        }
        return result.isEmpty() ? QByteArray("?") : result;
    }

    QString m_name;
    IconvChannel m_encode;
    IconvChannel m_decode;
    QByteArray m_question;
};

std::unique_ptr<CodePage> MakeLocaleCodePage()
{
    setlocale(LC_ALL, "");
    const QString codeset = QString::fromLatin1(nl_langinfo(CODESET));
    const QString upper = codeset.toUpper();
    if (upper.isEmpty() || upper == QLatin1String("UTF-8") || upper == QLatin1String("UTF8")
        || upper == QLatin1String("ANSI_X3.4-1968") || upper == QLatin1String("ASCII")
        || upper == QLatin1String("US-ASCII"))
        return std::make_unique<Utf8CodePage>();
    if (auto codePage = MakeIconvCodePage(codeset))
        return codePage;
    return std::make_unique<Utf8CodePage>();
}

// The code page in force. Replaced ones are kept alive to the end of the process, so a worker
// still converting with one never touches freed memory.
std::atomic<const CodePage *> g_current{nullptr};
std::mutex g_ownedMutex;
std::vector<std::unique_ptr<CodePage>> g_owned;

const CodePage &LocaleCodePage()
{
    static const std::unique_ptr<CodePage> codePage = MakeLocaleCodePage();
    return *codePage;
}

} // namespace

std::unique_ptr<CodePage> MakeIconvCodePage(const QString &encoding)
{
    if (encoding.isEmpty())
        return nullptr;
    auto codePage = std::make_unique<IconvCodePage>(encoding);
    if (!codePage->valid())
        return nullptr;
    return codePage;
}

const CodePage &SystemCodePage()
{
    if (const CodePage *current = g_current.load(std::memory_order_acquire))
        return *current;
    return LocaleCodePage();
}

void SetSystemCodePage(std::unique_ptr<CodePage> codePage)
{
    if (!codePage) {
        g_current.store(nullptr, std::memory_order_release);
        return;
    }
    std::lock_guard lock(g_ownedMutex);
    g_owned.push_back(std::move(codePage));
    g_current.store(g_owned.back().get(), std::memory_order_release);
}

QByteArray AnsiFromUnicode(const QString &text)
{
    return SystemCodePage().fromUnicode(text);
}

QString UnicodeFromAnsi(const QByteArray &bytes)
{
    return SystemCodePage().toUnicode(bytes);
}

} // namespace platform
