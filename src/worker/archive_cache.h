// The launcher archive from the download host, kept as one local copy in the cache folder and
// asked for again on each start only if it changed (If-None-Match / If-Modified-Since with the
// copy's validator), and not at all when this start's version file names the copy's size and digest
// (ArchiveCopyNamedByAnnouncement): a 304 runs the copy without reading it again, a 200 is checked
// and becomes the new copy under a new name (a running javaw holds the copy it was given), an
// error status withdraws the copy, and without an answer the copy runs if it may (ArchiveCopyUsableOffline).
// Copies nothing uses any more are deleted, so nothing grows from start to start.
//
// Files in the cache folder: launcher-<n>.jar (the copies), launcher-archive.meta (which copy is
// current, its validator, length, digest and vouching), version.seen (the highest verified release
// number seen), lar<hex>.tmp while a new one arrives, lct<hex>.tmp while one of the two small files
// is written anew.
#pragma once

// Decides which launcher archive javaw gets: the copy or a new one from the server when it may run
// (launcherJarPath is set to it), else the embedded one written before (launcherJarPath as it is).
// Logs which, and why the server's is not used. Returns true when the server's archive is used.
bool provideGenenricLauncherJar();
