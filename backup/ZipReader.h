#pragma once
// Reading backup archives for restore.
class TZipReader {
public:
    TZipReader() = default;
};
