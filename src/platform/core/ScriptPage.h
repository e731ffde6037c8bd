#pragma once

#include <QString>

#include <memory>
#include <stdexcept>

namespace platform {

// A failure of a script page: the page could not be loaded, the function is missing, the script
// raised an error, or the value is null.
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A local page whose <script> blocks are evaluated once, in one global scope, and whose global
// functions are then called with one string. The script engine's heap belongs to the thread that
// created the page; every call must come from that thread.
class ScriptPage {
public:
    // Loads the page file. A page that cannot be read or whose scripts fail is kept as a failure
    // that every call raises.
    explicit ScriptPage(const QString &path);
    ~ScriptPage();
    ScriptPage(const ScriptPage &) = delete;
    ScriptPage &operator=(const ScriptPage &) = delete;

    bool Loaded() const;

    // Calls the global function `name` with `argument` and returns its value converted to text;
    // undefined gives an empty text. Raises ScriptError on any failure.
    QString CallFunction(const char *name, const QString &argument);

private:
    struct Heap;
    std::unique_ptr<Heap> m_heap;
};

} // namespace platform
