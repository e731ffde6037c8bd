#pragma once

namespace platform {

// Lets assistive technologies reach the windows we embed into other programs' windows. The
// toolkit lists only windows without a parent as the application's windows, and an embedded
// window has a foreign parent: without this, a screen reader could not read the translator
// windows. Call once, after the application object exists and before any window is shown.
void ExposeEmbeddedWindows();

} // namespace platform
