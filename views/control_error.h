#pragma once

#include <QString>

#include <stdexcept>

namespace keyloft {

// A refusal of the tree or list control: what the common controls raise as run-time errors.
class ControlError : public std::runtime_error {
public:
    enum class Kind {
        DuplicateKey,  // a node or row key already present
        NoSuchElement, // a key or an index that names nothing
        NoSuchImage,   // an image index the attached image list does not have
    };

    ControlError(Kind kind, const QString& detail);
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

} // namespace keyloft
