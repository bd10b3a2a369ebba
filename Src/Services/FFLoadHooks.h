// What the loader installs into a library right after binding it. Each is implemented by
// the module that owns the hook (log bridge, codec lock, file protocol).
#pragma once

namespace tovamo {

void HookLog();                  // FFLog: route av_log into the log bridge
void CodecLockInstall();         // FFCodecLock: (re)create the codec mutex
void CodecLockUninstall();       // FFCodecLock: destroy it when avcodec is unloaded
void RegisterUnicodeProtocol();  // UnicodeProtocol: ready the "unicode:utf8:" file I/O

}  // namespace tovamo
