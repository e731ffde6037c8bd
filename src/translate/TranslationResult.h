#pragma once

#include <QByteArray>
#include <QString>

// What the callers of the translation workers hand in and get back: the result of a job, the
// callback that receives it and the provider of request tokens. Kept apart from the workers so that
// code which only receives results does not depend on them.

// The result of one translation job, built on the worker's stack and valid only while the done
// callback runs; receivers copy it whole. Both texts are zero-filled behind their content and
// kept unit for unit; a longer translation is cut to the field between whole characters.
struct TranslationResult {
    static constexpr int TextSize = 1025;

    char16_t OriginalText[TextSize];
    bool Success;
    char16_t TranslatedText[TextSize];
    // Why the translation failed, as the request told it (the service's status with its reason
    // line, or the request's own failure); empty on success. Read by ClassifyFailure.
    static constexpr int FailureSize = 256;
    char16_t FailureText[FailureSize];

    // The texts up to their first zero unit (all units when they fill their field).
    QString Original() const;
    QString Translated() const;
    QString Failure() const;
    // Replaces the translated text, cut to its field (between whole characters) and zero-filled
    // behind it.
    void SetTranslated(const QString &text);
};

// Receives the result of a job on the worker thread: a function and the context it is called with.
struct TranslationDoneHandler {
    void (*Func)(void *context, const TranslationResult *result) = nullptr;
    void *Context = nullptr;

    explicit operator bool() const { return Func != nullptr; }
    void operator()(const TranslationResult *result) const { Func(Context, result); }
};

// Gives the request token of a text; always called on the main thread, may raise.
struct TokenProvider {
    QByteArray (*Func)(void *context, const QString &text) = nullptr;
    void *Context = nullptr;

    explicit operator bool() const { return Func != nullptr; }
    QByteArray operator()(const QString &text) const { return Func(Context, text); }
};

// Callbacks made of a member function and its object:
//     MethodTokenProvider<&MainWindow::GetRequestToken>(mainWindow)
//     MethodDoneEvent<&TranslatorWindow::RecvTranslatedCallback>(monitorWindow)
template <auto Method, class T> TokenProvider MethodTokenProvider(T *object)
{
    return {[](void *context, const QString &text) -> QByteArray { return (static_cast<T *>(context)->*Method)(text); },
        object};
}

template <auto Method, class T> TranslationDoneHandler MethodDoneEvent(T *object)
{
    return {
        [](void *context, const TranslationResult *result) { (static_cast<T *>(context)->*Method)(result); }, object};
}

// A text to read aloud and the code of its language, as they travel from a window to the speech
// request.
struct Utterance {
    QString text;
    QByteArray languageCode;

    friend bool operator==(const Utterance &, const Utterance &) = default;
};

// Fixed-size fields of UTF-16 units, zero-filled behind their content, as the job and result
// records keep their texts. FieldText reads the units up to the first zero unit (all units when
// they fill the field); CopyToField copies a text in, cut to the field between whole characters,
// and leaves the units behind it as they are.
QString FieldText(const char16_t *units, int size);
void CopyToField(const QString &text, char16_t *units, int size);
