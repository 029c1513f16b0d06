#include "difrax/difrax.hpp"

namespace difrax {

Error Error::io(std::string description) { return {Kind::Io, std::move(description)}; }
Error Error::zip(std::string description) { return {Kind::Zip, std::move(description)}; }
Error Error::parse(std::string message) { return {Kind::Parse, std::move(message)}; }
Error Error::unknown_format() { return {Kind::UnknownFormat, {}}; }
Error Error::file_not_found_in_archive(std::string name) {
    return {Kind::FileNotFoundInArchive, std::move(name)};
}

std::string Error::display() const {
    switch (kind_) {
    case Kind::Io: return "IO error: " + payload_;
    case Kind::Zip: return "Zip error: " + payload_;
    case Kind::Parse: return "Parse error: " + payload_;
    case Kind::UnknownFormat: return "Unknown format";
    case Kind::FileNotFoundInArchive: return "File not found in archive: " + payload_;
    }
    return {};
}

}  // namespace difrax
