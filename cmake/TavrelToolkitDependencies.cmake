# The libraries the toolkit (platform_gdi, platform_ui) is drawn with, found
# through pkg-config as the imported targets the toolkit links. Included by
# the toolkit's own lists and, installed, by the package's configuration
# file when a program asks for its Desktop component.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(PANGOCAIRO REQUIRED IMPORTED_TARGET pangocairo)
pkg_check_modules(UI_DEPS REQUIRED IMPORTED_TARGET x11 xfixes cairo cairo-xlib pangocairo)
# What tavrellog-desktop.pc requires.
set_property(GLOBAL PROPERTY TAVREL_TOOLKIT_PKG_MODULES "x11 xfixes cairo cairo-xlib pangocairo")
