#pragma once
// A JSON object writer for the manifest's fixed text form: members in ascending
// byte-wise key order, " : " between key and value, two spaces of indentation per
// level, strings written raw but for the escapes of quote, backslash and control
// characters, and no newline after the closing brace.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace autoupdatekit {

class JSONObjectWriter {
public:
    // Throws EncodingError for text that is not valid UTF-8.
    void addString(const std::string& key, const std::string& value);
    void addInteger(const std::string& key, std::int64_t value);
    void addObject(const std::string& key, const JSONObjectWriter& object);

    std::string text() const { return render(0); }

private:
    std::string render(int level) const;

    // Keys with their values already written; objects are rendered when nested.
    struct Member {
        std::string key;
        std::string value;
        std::vector<JSONObjectWriter> object;  // one element for an object member
    };
    std::vector<Member> members_;
};

}  // namespace autoupdatekit
