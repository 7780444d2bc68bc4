#include "Platform/CodeRequirement.hpp"

namespace platform::codesigning {
namespace {

// The quoted value at the end of a clause after prefix; nothing if malformed.
std::optional<std::string> quotedValue(const std::string& clause, const std::string& prefix) {
    if (clause.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    std::string rest = clause.substr(prefix.size());
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return std::nullopt;
    std::string value = rest.substr(1, rest.size() - 2);
    if (value.empty() || value.find('"') != std::string::npos) return std::nullopt;
    return value;
}

}  // namespace

std::optional<CodeRequirement> CodeRequirement::parse(const std::string& text) {
    CodeRequirement requirement;
    const std::string separator = " and ";
    std::size_t start = 0;
    while (true) {
        std::size_t end = text.find(separator, start);
        std::string clause = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (clause == "anchor apple generic") {
            requirement.clauses_.push_back({Clause::Kind::anchor, {}});
        } else if (auto identifier = quotedValue(clause, "identifier ")) {
            requirement.clauses_.push_back({Clause::Kind::identifier, *identifier});
        } else if (auto team = quotedValue(clause, "certificate leaf[subject.OU] = ")) {
            requirement.clauses_.push_back({Clause::Kind::team, *team});
        } else {
            return std::nullopt;
        }
        if (end == std::string::npos) break;
        start = end + separator.size();
    }
    return requirement;
}

bool CodeRequirement::isSatisfiedBy(const SigningFacts& facts) const {
    for (const auto& clause : clauses_) {
        bool holds = false;
        switch (clause.kind) {
        case Clause::Kind::identifier: holds = facts.identifier == clause.value; break;
        case Clause::Kind::anchor: holds = facts.trustedTeamSignature; break;
        case Clause::Kind::team: holds = facts.teamIdentifier == clause.value; break;
        }
        if (!holds) return false;
    }
    return true;
}

}  // namespace platform::codesigning
