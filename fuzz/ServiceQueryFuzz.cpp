// Fuzz target for the service's request handling: any request target must be taken apart or
// refused without a fault; what it accepts must be clean text that the program's own encoding
// carries back unchanged, that survives the stream format, and that the program reads back from
// the answer body the service builds around it.
#include "service/Query.h"
#include "service/TextFormat.h"

#include "translate/ResponseParser.h"
#include "translate/UrlEncoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char *what, const QByteArray &target)
{
    std::fprintf(stderr, "%s\ntarget: %s\n", what, target.toPercentEncoding().constData());
    std::abort();
}

// The program shows every double quote as U+201C; control characters U+0001 to U+0008 are its
// own placeholders, and a text of two equal halves around one blank is folded to one half.
bool ProgramShowsAsIs(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 1 && c.unicode() <= 8)
            return false;
    }
    return text.count(u' ') != 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray target(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto parsed = service::ParseTarget(target);
    const auto *accepted = std::get_if<service::Target>(&parsed);
    if (!accepted) {
        const auto &rejection = std::get<service::Rejection>(parsed);
        if (rejection.status < 400 || rejection.status > 499 || rejection.reason.isEmpty())
            Fail("a refusal without a 4xx status and a reason", target);
        return 0;
    }
    if (!accepted->path.startsWith('/'))
        Fail("an accepted path that does not start with a slash", target);
    for (const auto &[key, value] : accepted->keys) {
        if (value.contains(QChar(0)))
            Fail("a NUL character got through", target);
        const auto again = service::DecodeComponent(Utf8PercentEncode(value));
        if (!std::holds_alternative<QString>(again) || std::get<QString>(again) != value)
            Fail("a value does not survive the program's encoding", target);
        if (service::ReformatText(service::DeformatText(value)) != value)
            Fail("a value does not survive the stream format", target);
        if (service::SplitSentences(value).join(QString()) != value)
            Fail("sentence cutting lost text", target);
        const auto shown
            = ParseTranslationBody(service::TranslationBody(service::PairSentences(value, value), "en"), false);
        if (!shown)
            Fail("the program cannot read the answer body", target);
        if (ProgramShowsAsIs(value) && shown.value() != QString(value).replace(u'"', u'\u201c'))
            Fail("the program reads another text from the answer body", target);
    }
    return 0;
}
