// Files an ended run could not remove: the hidden temporary outputs, two-pass statistics
// (PassStats.h) and disc authoring work folders of a process that was killed, crashed or
// lost its terminal. Their names carry the owner's process id, so a later run writing into
// the same folder can tell a leftover (its owner is gone) from the work of a run still going.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tovamo {

// The part of a work folder's name after the image's name and before the mkdtemp letters:
// ".authoring-<process id>-".
std::string WorkFolderTag();

// The owner's process id when `name` is one of the project's temporary output names
// (".<name>.part-<id><ext>", see TemporaryOutputPath) or work folder names
// (".<name>.authoring-<id>-XXXXXX"), else 0.
pid_t TemporaryOutputOwner(const std::string& name);
pid_t WorkFolderOwner(const std::string& name);

// Removes from `folder` (not below it) the temporary output files, statistics files and
// work folders whose owner process is gone, and nothing else: not a symbolic link, not an
// entry of a living process, not a name of another pattern. Returns the paths removed.
std::vector<std::string> RemoveLeftovers(const std::string& folder);

}  // namespace tovamo
