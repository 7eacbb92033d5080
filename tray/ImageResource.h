#pragma once

#include <QIcon>
#include <QString>

// An image of the program's own resources, found by its base name ("plinth_bar"), rendered
// at the small sizes that panels and menus ask for. A name that is not among the resources
// gives a null icon. The icon's name() is imageName(baseName): a panel that is handed
// iconThemePath() can draw the picture itself, at its own size and scale.
QIcon imageNamed(const QString& baseName);

// The program's own icon, the one its desktop file names ("pinglark"), for its windows: rendered
// at the same small sizes, each once. (Qt renders an icon without sizes of its own at up to
// 128 px for every window it makes, and does it on threads that linger.)
QIcon programIcon();

// The name under which iconThemePath() holds a resource image ("pinglark-plinth_bar"): the
// program's prefix keeps it apart from the icons of the user's theme. Empty for a base name that
// is not among the resources.
QString imageName(const QString& baseName);

// A folder that a panel adds to its icon search path to find every resource image by its name,
// as <folder>/hicolor/scalable/apps/<name>.svg. An installed program has it beside its own
// folder; otherwise the first call writes it into the user's runtime folder, from where it goes
// when the program ends. Empty when neither can be had.
QString iconThemePath();
