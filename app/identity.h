#pragma once

// The application's identity. The organisation and application names scope the per-user
// settings store (the folder of the last firmware package lives there); the application name
// is also the window title.
namespace identity {
constexpr char OrganizationName[] = "Lumexor Systems Inc";
constexpr char ApplicationName[] = "Lumexor Capture Config";
constexpr char OrganizationDomain[] = "lumexor.com";
// The freedesktop entry's base name, so a Wayland compositor matches the window to its icon.
constexpr char DesktopFileName[] = "lumexor-capture-config";
} // namespace identity
