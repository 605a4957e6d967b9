#pragma once
// TBusinessList: the business kinds, through the host's dictionary. One module-wide object, created
// at the first BizInit and destroyed at the last BizUninit; it holds no data of its own.

class TBusinessList {
public:
    TBusinessList() = default;
    TBusinessList(const TBusinessList&) = delete;
    TBusinessList& operator=(const TBusinessList&) = delete;
};
