#pragma once

#include <QString>
#include <QStringView>

// The plain text of an HTML fragment, as an Atom title of type "html" is shown in a menu: tags,
// comments and declarations removed, character references decoded. A '<' that starts no tag, and
// a reference that is not complete or not known, stay as they are.
QString plainText(QStringView html);
