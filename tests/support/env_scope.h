#pragma once
// Sets an environment variable for one scope and puts back what was there
// (or removes it) at the end, or earlier with Restore. Header-only.
#include <cstdlib>
#include <string>

namespace testing_support {

class TEnvScope {
public:
    TEnvScope(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
        setenv(name, value.c_str(), 1);
    }
    ~TEnvScope() { Restore(); }
    TEnvScope(const TEnvScope&) = delete;
    TEnvScope& operator=(const TEnvScope&) = delete;

    void Restore()
    {
        if (restored_) return;
        restored_ = true;
        hadOld_ ? setenv(name_.c_str(), old_.c_str(), 1) : unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::string old_;
    bool hadOld_ = false;
    bool restored_ = false;
};

} // namespace testing_support
