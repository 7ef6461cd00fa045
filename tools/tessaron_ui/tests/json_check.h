// A strict JSON syntax check for the snapshot tests: the snapshots must stay
// valid JSON whatever bytes the daemon's texts carried.
#ifndef TESSARON_UI_TESTS_JSON_CHECK_H
#define TESSARON_UI_TESTS_JSON_CHECK_H

#include <cctype>
#include <cstring>
#include <string>

namespace json_check {

class Checker {
public:
    explicit Checker(const std::string& s) : s_(s) {}
    bool Valid() {
        Ws();
        if (!Value()) {
            return false;
        }
        Ws();
        return i_ == s_.size();
    }

private:
    void Ws() {
        while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_]) != nullptr) {
            ++i_;
        }
    }
    bool Lit(const char* word) {
        const size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) {
            return false;
        }
        i_ += n;
        return true;
    }
    bool Value() {
        if (i_ >= s_.size() || ++depth_ > 64) {
            return false;
        }
        bool ok = false;
        const char c = s_[i_];
        if (c == '{') {
            ok = Object();
        } else if (c == '[') {
            ok = Array();
        } else if (c == '"') {
            ok = String();
        } else if (c == 't') {
            ok = Lit("true");
        } else if (c == 'f') {
            ok = Lit("false");
        } else if (c == 'n') {
            ok = Lit("null");
        } else {
            ok = Number();
        }
        --depth_;
        return ok;
    }
    bool Object() {
        ++i_;
        Ws();
        if (i_ < s_.size() && s_[i_] == '}') {
            ++i_;
            return true;
        }
        while (true) {
            Ws();
            if (i_ >= s_.size() || s_[i_] != '"' || !String()) {
                return false;
            }
            Ws();
            if (i_ >= s_.size() || s_[i_++] != ':') {
                return false;
            }
            Ws();
            if (!Value()) {
                return false;
            }
            Ws();
            if (i_ >= s_.size()) {
                return false;
            }
            if (s_[i_] == '}') {
                ++i_;
                return true;
            }
            if (s_[i_++] != ',') {
                return false;
            }
        }
    }
    bool Array() {
        ++i_;
        Ws();
        if (i_ < s_.size() && s_[i_] == ']') {
            ++i_;
            return true;
        }
        while (true) {
            Ws();
            if (!Value()) {
                return false;
            }
            Ws();
            if (i_ >= s_.size()) {
                return false;
            }
            if (s_[i_] == ']') {
                ++i_;
                return true;
            }
            if (s_[i_++] != ',') {
                return false;
            }
        }
    }
    bool String() {
        ++i_;
        while (i_ < s_.size()) {
            const unsigned char c = static_cast<unsigned char>(s_[i_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (i_ >= s_.size()) {
                    return false;
                }
                const char e = s_[i_++];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k) {
                        if (i_ >= s_.size() ||
                            !std::isxdigit(static_cast<unsigned char>(s_[i_++]))) {
                            return false;
                        }
                    }
                } else if (std::strchr("\"\\/bfnrt", e) == nullptr) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Digits() {
        const size_t start = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') {
            ++i_;
        }
        return i_ > start;
    }
    bool Number() {
        if (i_ < s_.size() && s_[i_] == '-') {
            ++i_;
        }
        if (!Digits()) {
            return false;
        }
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            if (!Digits()) {
                return false;
            }
        }
        return true;
    }

    const std::string& s_;
    size_t i_ = 0;
    int depth_ = 0;
};

inline bool IsValidJson(const std::string& s) {
    return Checker(s).Valid();
}

}  // namespace json_check

#endif
