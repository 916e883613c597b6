// A pseudo-terminal for a simulated line: raw bytes, both ends closed on
// exec, and a master side that never blocks, so a host that stops reading
// cannot stall the module behind it.
#pragma once

#include <string>

namespace qnsim {

// Opens the pair into *master and *slave and its slave path into *name.
// readTimeoutTenths >= 0 makes a read on the slave side return after at most
// that many tenths of a second (VMIN 0); -1 leaves reads blocking.
// False with the reason in *error.
bool OpenRawPty(int* master, int* slave, std::string* name, int readTimeoutTenths,
                std::string* error);

}  // namespace qnsim
