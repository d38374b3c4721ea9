// The message word table of the imaging library's dialogs: 121 messages for each of
// the ten languages of TMsgLanguage (msEnglish .. msSwedish).
#pragma once

#include "imaging/imgdefs.h"

#include <string>

namespace kv {

constexpr int32_t IEWordCount = 121;

// Message Index (0..120) in Language. msSystem picks by the system locale's language;
// msUser and any language whose table is not filled give the English word.
const std::string& IEWord(TMsgLanguage Language, int32_t Index);
// The language that msSystem stands for on this machine.
TMsgLanguage IESystemLanguage();
// Replaces one word (the msUser table and translations are filled through this).
void IESetWord(TMsgLanguage Language, int32_t Index, const std::string& Word);

} // namespace kv
