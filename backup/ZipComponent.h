#pragma once
// The ZIP component the backup run writes its archives through.
class TZipComponent {
public:
    TZipComponent() = default;
};
