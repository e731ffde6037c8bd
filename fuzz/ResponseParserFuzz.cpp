// Fuzz target for the response parsing: any body must be handled without a fault, no plain
// double quote may leave it, and on small bodies it must agree with the step-by-step reference.
#include "ReferenceParser.h"

#include "translate/ResponseParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char *what, const QByteArray &body)
{
    std::fprintf(stderr, "%s\nbody: %s\n", what, body.toPercentEncoding().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto parsed = ParseTranslationBody(body);
    if (parsed && parsed.value().contains(u'"'))
        Fail("a plain double quote left the parser", body);

    if (size <= 4096) {
        const auto reference = ReferenceParseTranslationBody(body);
        if (parsed.ok() != reference.has_value())
            Fail(parsed.ok() ? "the reference refused a body the parser took"
                             : "the parser refused a body the reference took",
                body);
        if (parsed && parsed.value() != *reference)
            Fail("the parser and the reference disagree", body);
    }
    return 0;
}
