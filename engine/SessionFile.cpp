#include "engine/SessionFile.h"

namespace audimera {

// Placeholders until the session file is built.
Status SessionFile::write(const std::string&, const SessionData&) { return Error::of(Failure::Other, "not built yet"); }
Result<std::vector<std::uint8_t>> SessionFile::toBytes(const SessionData&) { return Error::of(Failure::Other, "not built yet"); }
Result<SessionFile::Opened> SessionFile::read(const std::string&) { return Error::of(Failure::Other, "not built yet"); }
Result<SessionFile::Opened> SessionFile::fromBytes(const std::uint8_t*, std::size_t) { return Error::of(Failure::Other, "not built yet"); }

} // namespace audimera
