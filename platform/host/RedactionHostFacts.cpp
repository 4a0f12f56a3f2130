// The host's own names and people, for the redaction of its logs: read from the files and the
// user database the system keeps them in, never from the network.
#include "Redaction.h"
#include <algorithm>
#include <fstream>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/utsname.h>
#include <unistd.h>

namespace Redaction {

namespace {

void addWord(std::vector<std::string>& words, const std::string& word) {
    static const std::set<std::string> notPrivate{"localhost",     "localdomain",  "localhost.localdomain",
                                                  "ip6-localhost", "ip6-loopback", "(none)"};
    if (word.size() >= 2 && !notPrivate.count(word) &&
        std::find(words.begin(), words.end(), word) == words.end())
        words.push_back(word);
}

// The host name, with its domain and its labels once the domain is taken off.
void addHostName(std::vector<std::string>& names, const std::string& name) {
    addWord(names, name);
    size_t dot = name.find('.');
    if (dot == std::string::npos) return;
    addWord(names, name.substr(0, dot));
    addWord(names, name.substr(dot + 1));
}

std::vector<std::string> fields(const std::string& line) {
    std::istringstream in(line.substr(0, line.find('#')));
    std::vector<std::string> out;
    for (std::string field; in >> field;)
        out.push_back(field);
    return out;
}

void addHostNames(Rules& rules) {
    struct utsname uts {};
    std::string node = uname(&uts) == 0 ? uts.nodename : "";
    addHostName(rules.hostNames, node);
    std::ifstream hostname("/etc/hostname");
    std::string configured;
    if (std::getline(hostname, configured) && !fields(configured).empty())
        addHostName(rules.hostNames, fields(configured)[0]);
    // The names /etc/hosts gives this host (its full name among them).
    std::ifstream hosts("/etc/hosts");
    for (std::string line; std::getline(hosts, line);) {
        std::vector<std::string> f = fields(line);
        if (f.size() < 2 || std::find(f.begin() + 1, f.end(), node) == f.end()) continue;
        for (size_t i = 1; i < f.size(); i++)
            addHostName(rules.hostNames, f[i]);
    }
    std::ifstream resolv("/etc/resolv.conf");
    for (std::string line; std::getline(resolv, line);) {
        std::vector<std::string> f = fields(line);
        if (f.empty() || (f[0] != "domain" && f[0] != "search")) continue;
        for (size_t i = 1; i < f.size(); i++)
            addWord(rules.hostNames, f[i]);
    }
}

void addPerson(Rules& rules, const struct passwd& entry) {
    std::string name = entry.pw_name ? entry.pw_name : "";
    std::string home = entry.pw_dir ? entry.pw_dir : "";
    addWord(rules.userNames, name);
    // A home named after its user is redacted with the name ("/home/user-0001"); another is a value
    // of its own.
    bool namedAfterUser = home.size() > name.size() &&
                          home.compare(home.size() - name.size(), name.size(), name) == 0 &&
                          home[home.size() - name.size() - 1] == '/';
    if (!namedAfterUser && home.size() > 1 && home != "/nonexistent") addWord(rules.homes, home);
}

} // namespace

void addHostFacts(Rules& rules) {
    addHostNames(rules);
    // Accounts of people: from the first uid login(1) gives users, not the system's own accounts.
    constexpr uid_t firstUserUid = 1000, nobodyUid = 65534;
    setpwent();
    while (struct passwd* entry = getpwent())
        if (entry->pw_uid >= firstUserUid && entry->pw_uid != nobodyUid) addPerson(rules, *entry);
    endpwent();
    if (getuid() != 0)
        if (struct passwd* self = getpwuid(getuid())) addPerson(rules, *self);
    for (const std::string& name : std::vector<std::string>(rules.userNames))
        if (struct passwd* entry = getpwnam(name.c_str())) addPerson(rules, *entry);
}

} // namespace Redaction
