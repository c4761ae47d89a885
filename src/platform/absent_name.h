#pragma once

// A lookup of a name the disk cannot hold finds nothing, but not every disk says so with ENOENT:
// exFAT and NTFS drivers answer a name that is not UTF-8 with EILSEQ, FAT's with EINVAL, and a name
// longer than the disk takes gets ENAMETOOLONG. Whatever looks a name up to see whether it is there
// (undo, the recovery after a cut, the duplicates' lookahead, the taken-name check) reads these as
// "not there", never as a failure.
namespace corvalin {

// True when the errno of a lookup (stat, open, unlink, rename of one name) means that no entry of
// that name exists: ENOENT, ENOTDIR (a folder on the way is a file), EILSEQ, ENAMETOOLONG, EINVAL,
// and EBADMSG, which sshfs gives for a name its server finds too long or invalid.
// False for 0 and for every error that leaves it open (EIO, EACCES, ENOTCONN, ...).
bool lookupMeansAbsent(int error);

} // namespace corvalin
