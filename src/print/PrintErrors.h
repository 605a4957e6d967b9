#pragma once
// The errors of voucher printing.

#include "Tools.h"

#include <stdexcept>

// A silent abort: the operator stopped the work or has been told already, so no further
// message is shown. The message says why.
class EAbort : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A silent abort after the operator has been shown why (no system printer).
class EReported : public EAbort {
public:
    using EAbort::EAbort;
};

// An output that cannot be opened or written; the print service's or the system's own
// words go to the details.
class EInOutError : public EDetailedError {
public:
    using EDetailedError::EDetailedError;
};
