#include "platform/Time.h"
#include "Host.h"
#include <chrono>
#include <ctime>

Ref<Time> Time::current(long long offsetMs, unsigned) {
    const Host::Config& c = Host::config();
    long long now = c.fixedClockMs ? *c.fixedClockMs
                                   : std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::system_clock::now().time_since_epoch())
                                         .count();
    return Ref<Time>(new Time(now + offsetMs));
}

Ref<Time> Time::create(long long milliseconds, unsigned) {
    return Ref<Time>(new Time(milliseconds));
}

long long Time::tzOffsetMs() {
    return Host::config().tzOffsetMs;
}

long long TimeServer::tzOffset(bool) {
    return Time::tzOffsetMs();
}

Ref<String> Date::currtime(const char* format, const Ref<Time>& time) {
    Ref<Time> t = time ? time : Time::current(TimeServer::tzOffset(true), 4);
    std::time_t seconds = static_cast<std::time_t>(t->milliseconds() / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, std::string(format) == "Y-m-d" ? "%Y-%m-%d" : "%Y%m%d", &parts);
    return String::create(text);
}
