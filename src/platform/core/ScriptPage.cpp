#include "platform/core/ScriptPage.h"

#include <QFile>
#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include <duktape.h>

namespace platform {

namespace {

// Duktape keeps strings as CESU-8 style bytes: a UTF-16 surrogate pair is two 3-byte units, while a
// 4-byte UTF-8 sequence would be taken as ONE character. So every unit of the text is encoded on
// its own, lone surrogates included.
QByteArray Cesu8FromUtf16(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 3);
    for (const QChar unit : text) {
        const char16_t u = unit.unicode();
        if (u < 0x80) {
            bytes.append(static_cast<char>(u));
        } else if (u < 0x800) {
            bytes.append(static_cast<char>(0xC0 | (u >> 6)));
            bytes.append(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            bytes.append(static_cast<char>(0xE0 | (u >> 12)));
            bytes.append(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            bytes.append(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    return bytes;
}

// The reverse: 3-byte surrogate units come back as they are; a 4-byte sequence (which Duktape
// makes for non-BMP characters of source text) becomes a surrogate pair. A byte that starts no
// valid sequence becomes U+FFFD.
QString Utf16FromCesu8(const char *data, std::size_t size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    QString text;
    text.reserve(static_cast<qsizetype>(size));
    std::size_t i = 0;
    auto continuation = [&](std::size_t at) { return at < size && (bytes[at] & 0xC0) == 0x80; };
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            text.append(QChar(lead));
            ++i;
        } else if ((lead & 0xE0) == 0xC0 && continuation(i + 1)) {
            text.append(QChar(static_cast<char16_t>(((lead & 0x1F) << 6) | (bytes[i + 1] & 0x3F))));
            i += 2;
        } else if ((lead & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
            text.append(QChar(
                static_cast<char16_t>(((lead & 0x0F) << 12) | ((bytes[i + 1] & 0x3F) << 6) | (bytes[i + 2] & 0x3F))));
            i += 3;
        } else if ((lead & 0xF8) == 0xF0 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
            const char32_t codePoint = ((lead & 0x07) << 18) | ((bytes[i + 1] & 0x3F) << 12)
                | ((bytes[i + 2] & 0x3F) << 6) | (bytes[i + 3] & 0x3F);
            if (codePoint >= 0x10000 && codePoint <= 0x10FFFF) {
                text.append(QChar(QChar::highSurrogate(codePoint)));
                text.append(QChar(QChar::lowSurrogate(codePoint)));
            } else {
                text.append(QChar(QChar::ReplacementCharacter));
            }
            i += 4;
        } else {
            text.append(QChar(QChar::ReplacementCharacter));
            ++i;
        }
    }
    return text;
}

// Called by Duktape for an error that no protected call catches; every call here is protected,
// so this means the engine itself is broken. It must not return.
void ScriptFatal(void *, const char *message)
{
    std::fprintf(stderr, "script engine fatal error: %s\n", message ? message : "(no message)");
    std::fflush(stderr);
    std::abort();
}

// The error on top of the stack as text ("Error: message"), popped. The conversion is protected:
// a script may have made it raise.
std::string PopErrorText(duk_context *ctx)
{
    std::string text = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    return text;
}

// Pushes the global value named by udata (run by duk_safe_call).
duk_ret_t GetGlobal(duk_context *ctx, void *udata)
{
    duk_get_global_string(ctx, static_cast<const char *>(udata));
    return 1;
}

// Replaces the value on top of the stack with its string form (run by duk_safe_call).
duk_ret_t ToText(duk_context *ctx, void *)
{
    duk_to_string(ctx, -1);
    return 1;
}

// The bodies of the page's inline <script> blocks, in page order. Blocks that name a src are
// skipped: the page is local and loads nothing else.
QList<QByteArray> ScriptBlocks(const QByteArray &page)
{
    static const QRegularExpression block(QStringLiteral("<script\\b([^>]*)>(.*?)</script\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression source(QStringLiteral("\\bsrc\\s*="), QRegularExpression::CaseInsensitiveOption);
    QList<QByteArray> scripts;
    const QString text = QString::fromUtf8(page);
    for (auto it = block.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(1).contains(source))
            continue;
        scripts.append(Cesu8FromUtf16(match.captured(2)));
    }
    return scripts;
}

} // namespace

struct ScriptPage::Heap {
    ~Heap()
    {
        if (ctx)
            duk_destroy_heap(ctx);
    }

    duk_context *ctx = nullptr;
    // Why the page cannot be used; empty once it has loaded.
    std::string failure;
    std::thread::id owner = std::this_thread::get_id();
};

ScriptPage::ScriptPage(const QString &path)
    : m_heap(std::make_unique<Heap>())
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_heap->failure = "cannot read the page " + path.toStdString() + ": " + file.errorString().toStdString();
        return;
    }
    const QList<QByteArray> scripts = ScriptBlocks(file.readAll());

    m_heap->ctx = duk_create_heap(nullptr, nullptr, nullptr, nullptr, ScriptFatal);
    if (!m_heap->ctx) {
        m_heap->failure = "cannot create the script engine";
        return;
    }
    duk_context *ctx = m_heap->ctx;
    for (const QByteArray &script : scripts) {
        // Every block runs in the one global scope, as a browser runs a page.
        if (duk_peval_lstring(ctx, script.constData(), static_cast<duk_size_t>(script.size())) != 0) {
            m_heap->failure = "the page's script failed: " + PopErrorText(ctx);
            duk_destroy_heap(ctx);
            m_heap->ctx = nullptr;
            return;
        }
        duk_pop(ctx);
    }
}

ScriptPage::~ScriptPage() = default;

bool ScriptPage::Loaded() const
{
    return m_heap->ctx != nullptr;
}

QString ScriptPage::CallFunction(const char *name, const QString &argument)
{
    if (std::this_thread::get_id() != m_heap->owner)
        throw ScriptError("a script page is called only from the thread that created it");
    if (!m_heap->ctx)
        throw ScriptError(m_heap->failure);
    duk_context *ctx = m_heap->ctx;
    const duk_idx_t base = duk_get_top(ctx);

    // Looked up in a protected call: the page may have made the name a getter that raises.
    if (duk_safe_call(ctx, GetGlobal, const_cast<char *>(name), 0, 1) != DUK_EXEC_SUCCESS
        || !duk_is_callable(ctx, -1)) {
        duk_set_top(ctx, base);
        throw ScriptError(std::string("the page has no function ") + name);
    }
    const QByteArray text = Cesu8FromUtf16(argument);
    duk_push_lstring(ctx, text.constData(), static_cast<duk_size_t>(text.size()));
    if (duk_pcall(ctx, 1) != DUK_EXEC_SUCCESS) {
        const std::string error = PopErrorText(ctx);
        duk_set_top(ctx, base);
        throw ScriptError(std::string(name) + " failed: " + error);
    }
    if (duk_is_null(ctx, -1)) {
        duk_set_top(ctx, base);
        throw ScriptError(std::string(name) + " returned null");
    }
    QString value;
    if (!duk_is_undefined(ctx, -1)) {
        // Converted in a protected call: an object's own toString may raise.
        if (duk_safe_call(ctx, ToText, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
            const std::string error = PopErrorText(ctx);
            duk_set_top(ctx, base);
            throw ScriptError(std::string("the value of ") + name + " is no text: " + error);
        }
        duk_size_t size = 0;
        const char *bytes = duk_get_lstring(ctx, -1, &size);
        value = Utf16FromCesu8(bytes, size);
    }
    duk_set_top(ctx, base);
    return value;
}

} // namespace platform
