#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

// What the callers of the translation workers hand in and get back: the result of a job, the
// receiver it is delivered to and the provider of request tokens. Kept apart from the workers so that
// code which only receives results does not depend on them.

// The result of one translation job, built by the worker and handed to the job's receiver, which
// copies it. Both texts are zero-filled behind their content and kept unit for unit; a longer
// translation is cut to the field between whole characters.
struct TranslationResult {
    static constexpr int TextSize = 1025;
    static constexpr int CodeSize = 16;

    char16_t OriginalText[TextSize];
    bool Success;
    char16_t TranslatedText[TextSize];
    // For a job that asked the service to find the text's language: the catalogue code of the
    // language it was translated from, when the service was sure of it and it is not the language
    // the job named; zero-filled, and empty in every other case.
    char DetectedCode[CodeSize];
    // Why the translation failed, as the request told it (the service's status with its reason
    // line, or the request's own failure); empty on success. Read by ClassifyFailure.
    static constexpr int FailureSize = 256;
    char16_t FailureText[FailureSize];

    // The texts up to their first zero unit (all units when they fill their field).
    QString Original() const;
    QString Translated() const;
    QByteArray Detected() const;
    QString Failure() const;
    // Replaces the translated text, cut to its field (between whole characters) and zero-filled
    // behind it.
    void SetTranslated(const QString &text);
    // Replaces the detected code; a code that does not fit leaves it empty.
    void SetDetected(const QByteArray &code);
};

// Names a ResultReceiver inside a job. Plain data, so that jobs stay records copied whole.
struct ResultReceiverId {
    quint64 value = 0;

    explicit operator bool() const { return value != 0; }
};

// Receives the results of the jobs queued with its Id(), on the main thread, one at a time: the
// worker hands each result over to the main thread and waits until the callback has returned. A
// result whose receiver has gone meanwhile is dropped. Created, used and destroyed on the main
// thread only.
class ResultReceiver {
public:
    using Callback = std::function<void(const TranslationResult &result)>;

    explicit ResultReceiver(Callback callback);
    ~ResultReceiver();
    ResultReceiver(const ResultReceiver &) = delete;
    ResultReceiver &operator=(const ResultReceiver &) = delete;

    ResultReceiverId Id() const { return m_id; }

    // Calls the receiver named by `id` with `result` (main thread); false when there is none. What
    // the callback raises goes to the caller.
    static bool Deliver(ResultReceiverId id, const TranslationResult &result);

private:
    ResultReceiverId m_id;
    Callback m_callback;
};

// Gives the request token of a text; always called on the main thread, may raise.
struct TokenProvider {
    QByteArray (*Func)(void *context, const QString &text) = nullptr;
    void *Context = nullptr;

    explicit operator bool() const { return Func != nullptr; }
    QByteArray operator()(const QString &text) const { return Func(Context, text); }
};

// A token provider made of a member function and its object:
//     MethodTokenProvider<&MainWindow::GetRequestToken>(mainWindow)
template <auto Method, class T> TokenProvider MethodTokenProvider(T *object)
{
    return {[](void *context, const QString &text) -> QByteArray { return (static_cast<T *>(context)->*Method)(text); },
        object};
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
