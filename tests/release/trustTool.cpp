// Asks Windows' own trust provider about a signed file, as Explorer or an
// allow-list policy would. A test tool only; never shipped.
//
//   trustTool add-root CERT.der    trusts CERT as a root for this machine
//   trustTool verify FILE          WinVerifyTrust with the Authenticode policy
//
// Prints one line; exit 0 when the call succeeded (verify: the file is
// trusted), 1 when it did not, 2 on bad usage.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int addRoot(const wchar_t *path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("add-root: cannot open the certificate: error %lu\n", GetLastError());
        return 1;
    }
    std::vector<BYTE> der(GetFileSize(file, nullptr));
    DWORD got = 0;
    BOOL read = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &got, nullptr);
    CloseHandle(file);
    if (!read || got != der.size()) {
        std::printf("add-root: cannot read the certificate\n");
        return 1;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        std::printf("add-root: cannot open the Root store: error %lu\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                  static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    std::printf("add-root: %s (error %lu)\n", added ? "added" : "refused", added ? 0UL : error);
    return added ? 0 : 1;
}

int verify(const wchar_t *path)
{
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // The throw-away CA publishes no revocation list.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID policy = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &policy, &data);

    std::printf("verify: 0x%08lX %s\n", static_cast<unsigned long>(result),
                result == ERROR_SUCCESS ? "trusted" : "not trusted");
    return result == ERROR_SUCCESS ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"add-root")
        return addRoot(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"verify")
        return verify(argv[2]);
    std::fputs("usage: trustTool add-root CERT.der | verify FILE\n", stderr);
    return 2;
}
