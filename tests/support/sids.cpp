#include "sids.h"

#include <cstring>

std::vector<DWORD> MakeSid(BYTE revision, const BYTE (&authority)[6], const std::vector<DWORD> &subs,
                           int count)
{
	std::vector<DWORD> words(2 + subs.size());
	BYTE *b = (BYTE *)words.data();
	b[0] = revision;
	b[1] = (BYTE)(count < 0 ? subs.size() : (size_t)count);
	memcpy(b + 2, authority, 6);
	if (!subs.empty())
		memcpy(b + 8, subs.data(), subs.size() * sizeof(DWORD));
	return words;
}

std::vector<DWORD> UnixSid(DWORD kind, DWORD id)
{
	const BYTE unixAuthority[6] = {0, 0, 0, 0, 0, 22};
	return MakeSid(1, unixAuthority, {kind, id});
}

std::string SidText(PSID sid)
{
	LPWSTR text = (LPWSTR)0x1;
	std::string s;

	SetLastError(0);
	if (!ConvertSidToStringSidW(sid, &text))
		return "<fails: " + std::to_string(GetLastError()) + ">" +
		       (text != (LPWSTR)0x1 ? "<changed>" : "");
	for (LPWSTR w = text; *w; w++)
		s += *w < 0x80 ? (char)*w : '#';
	if (LocalSize(text) < (s.size() + 1) * sizeof(WCHAR))
		s += "<short>";
	if (LocalFree(text) != nullptr)
		s += "<kept>";
	return s;
}
