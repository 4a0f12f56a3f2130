// The time library's calls: the clock and the offset come from the installed TimeService; dates
// are formatted the same on every host.
#include "Time.h"
#include "TimeService.h"
#include <ctime>
#include <string>

Ref<Time> Time::current(long long offsetMs, unsigned) {
    return Ref<Time>(new Time(service<TimeService>().nowMs() + offsetMs));
}

Ref<Time> Time::create(long long milliseconds, unsigned) {
    return Ref<Time>(new Time(milliseconds));
}

long long Time::tzOffsetMs() {
    return service<TimeService>().tzOffsetMs();
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
