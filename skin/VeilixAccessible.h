#pragma once

// What screen readers learn about the library's controls (not part of the public interface).
namespace VeilixInternal {

// Installs, once, the accessibility factory that describes a VeilixButton as a push button named
// by its caption (or by its accessible name when the host set one). The button's drawing surface
// holds the keyboard focus, so it speaks for its button.
void installAccessibleFactory();

} // namespace VeilixInternal
