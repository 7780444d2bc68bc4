#pragma once
// Code requirements: clauses joined by " and ", each one of
//   identifier "<bundle identifier>"            the signed identifier equals it
//   anchor apple generic                        a valid team signature by a trusted key
//   certificate leaf[subject.OU] = "<TEAM>"     the signing team equals it
// Any other text does not parse, and a requirement that does not parse is never met.

#include <optional>
#include <string>
#include <vector>

namespace platform::codesigning {

struct SigningFacts {
    std::string identifier;
    std::optional<std::string> teamIdentifier;
    bool trustedTeamSignature = false;  // valid team signature by a key trusted for its team
};

class CodeRequirement {
public:
    static std::optional<CodeRequirement> parse(const std::string& text);
    bool isSatisfiedBy(const SigningFacts& facts) const;

private:
    struct Clause {
        enum class Kind { identifier, anchor, team } kind;
        std::string value;
    };
    std::vector<Clause> clauses_;
};

}  // namespace platform::codesigning
