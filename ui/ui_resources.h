#pragma once
// The icon, banner and licence text compiled into the program. They sit in a
// static library, so something must refer to them or the linker drops them.
namespace talvor {
void ensure_resources();
} // namespace talvor
