#pragma once

#include <QIcon>
#include <QString>

// An image of the program's own resources, found by its base name ("plinth_bar"), rendered
// at the small sizes that panels and menus ask for. A name that is not among the resources
// gives a null icon.
QIcon imageNamed(const QString& baseName);
