#include "audio/fmod.hpp"
FMOD_RESULT FMOD_System_Create(FMOD::System**) { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::release() { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::getVersion(unsigned int*) { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::init(int, FMOD_INITFLAGS, void*) { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::close() { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::createStream(const char*, FMOD_MODE, FMOD_CREATESOUNDEXINFO*, FMOD::Sound**) { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::System::playSound(FMOD_CHANNELINDEX, FMOD::Sound*, bool, FMOD::Channel**) { return FMOD_ERR_UNIMPLEMENTED; }
FMOD_RESULT FMOD::Sound::release() { return FMOD_ERR_UNIMPLEMENTED; }
