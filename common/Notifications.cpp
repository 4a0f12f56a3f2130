#include "Notifications.h"
#include "StringFormatter.h"
#include "platform/Skarnel.h"

namespace Applications::Commands::Scrivlet {

using Services::Skarnel::Client::Dialog;

void notifyError(const Ref<String>& title, const Ref<String>& text) {
    Ref<String> keptTitle = title, keptText = text;
    Dialog::show(Dialog::Failure, keptTitle, keptText, Dialog::Ok, Dialog::Ok);
}

int notifyInformation(const Ref<String>& title, const Ref<String>& text, const Ref<String>& secondText,
                      const Ref<String>& firstValue, const Ref<String>& secondValue) {
    Ref<String> message = text ? text : String::create("");
    bool two = !isEmpty(secondValue);
    if (two) message = message->concat('\n')->concat(secondText);
    Ref<StringFormatter> formatter = StringFormatter::create(message);
    if (formatter) {
        formatter->arg(firstValue);
        if (two) formatter->arg(secondValue);
        message = formatter->result();
    }
    return static_cast<int>(Dialog::show(Dialog::Information, title, message, Dialog::Ok, Dialog::Ok));
}

bool askYesNo(const Ref<String>& title, const Ref<String>& text) {
    return Dialog::show(Dialog::Question, title, text, 3, 1) == 1;
}

} // namespace Applications::Commands::Scrivlet
