#pragma once
// What the session tells the user in a box.
#include <QString>

namespace remote {

// Something the user must be told in a box: its title and text. The session reports it and goes on;
// whoever presents the session decides how it is shown.
struct Failure {
    QString title;
    QString text;
    bool operator==(const Failure& other) const { return title == other.title && text == other.text; }
};

}  // namespace remote
