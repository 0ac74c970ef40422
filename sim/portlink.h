#pragma once
// A symbolic link with a fixed name to the simulator's current port, so a
// client can be pointed at one path across replugs.

#include <QString>

namespace rt8sim {

class PortLink
{
public:
    PortLink() = default;
    ~PortLink() { remove(); }
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Makes (or atomically replaces) the link at path pointing to target.
    // Refuses to replace anything at path that is not a symbolic link.
    bool place(const QString &path, const QString &target, QString *error);
    // Removes the link if it still points where this object put it.
    void remove();
    QString path() const { return m_path; }

private:
    QString m_path;
    QString m_target;
};

}  // namespace rt8sim
