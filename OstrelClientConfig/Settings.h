#ifndef OSTRELCLIENTCONFIG_SETTINGS_H
#define OSTRELCLIENTCONFIG_SETTINGS_H

#include <map>
#include <string>

#include "OstrelClientConfig/Export.h"
#include "OstrelData/Profile.h"
#include "Vesk/XMLDoc.h"

namespace OstrelClientConfig {

// What a client machine and its user have chosen, kept in two small XML files
// laid out like registry hives: the machine-wide one ("HKLM": the service
// hosts) and the per-user one ("HKCU": known domains and profiles, the
// defaults and the user id), each holding the vendor key "Tessaly" and under
// it the product key "Ostrel".
//
// Every failure is an OstrelData::Exception with code 6111 (nNAX_BADCONFIG).
// One thread at a time: neither an object nor the last-loaded pointer is locked.
class OSTRELCLIENTCONFIG_API Settings {
public:
    // A domain name the user knows.
    class OSTRELCLIENTCONFIG_API Domain {
    public:
        Domain(const std::string& strDomain = std::string());
        Domain(const Domain& other);
        Domain& operator=(const Domain& other);
        virtual ~Domain();

        const std::string& domain() const { return _strDomain; }
        // True when settings are loaded and their default domain is this one.
        bool isDefault() const;
        // Makes this the default domain of the last-loaded settings (which writes
        // the per-user file); nothing when none are loaded. The flag is ignored.
        void setDefault(bool bDefault);

    private:
        std::string _strDomain;
    };

    // A profile name the user knows.
    class OSTRELCLIENTCONFIG_API Profile : public OstrelData::Profile {
    public:
        // A profile with this name and the default flag false.
        Profile(const std::string& strProfile = std::string());
        Profile(const Profile& other);
        Profile(const OstrelData::Profile& other);
        Profile& operator=(const Profile& other);
        ~Profile() override;

        // True when settings are loaded and their default profile has this name.
        bool isDefault() const;
        // As Domain::setDefault, for the default profile.
        void setDefault(bool bDefault);
    };

    class OSTRELCLIENTCONFIG_API DomainMap : public std::map<std::string, Domain> {
    public:
        using std::map<std::string, Domain>::map;
    };
    class OSTRELCLIENTCONFIG_API ProfileMap : public std::map<std::string, Profile> {
    public:
        using std::map<std::string, Profile>::map;
    };

    // The files "/etc/ostreld/rcostrel" and HOME + "/.rcostrel" (no per-user
    // file when HOME is not set). Reads nothing.
    Settings();
    // The machine-wide and the per-user file at the given paths. Reads nothing.
    Settings(const std::string& strHKLM, const std::string& strHKCU);
    // The node pointers point into this object's own documents.
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    // Stops being the last-loaded settings.
    virtual ~Settings();

    // Reads both files. bAdmin: the machine-wide file may be created and
    // written. The per-user file is created empty when missing; missing keys
    // are added in memory only. Throws 6111 with the list of what failed, e.g.
    // "HKLM (/etc/ostreld/rcostrel), HKCU". On success these become the
    // last-loaded settings.
    void load(bool bAdmin);
    // Adds (or replaces by name) the profiles the service knows; writes nothing.
    // Throws what the client factory throws.
    void loadProfiles();

    const DomainMap& domains() const { return _domainS; }
    const std::string& defaultDomain() const { return _strDomain; }
    const ProfileMap& profiles() const { return _profileS; }
    const std::string& defaultProfile() const { return _strProfile; }
    const std::string& userId() const { return _strUserId; }
    // The values of the last load: the host setters change the file only.
    const std::string& ostrelLocal() const { return _strOstrelLocal; }
    const std::string& ostrelMaster() const { return _strOstrelMaster; }
    // Machine-wide trust for "tls:" services ("TlsCAFile", "TlsPin",
    // "TlsCertFile", "TlsKeyFile"; see Corvel::DaemonCommTls). A load that
    // finds any of them makes them the process's trust for new connections,
    // even when the per-user file then fails to load; none leaves the
    // system's CA store in use.
    const std::string& tlsCAFile() const { return _strTlsCAFile; }
    const std::string& tlsPin() const { return _strTlsPin; }
    const std::string& tlsCertFile() const { return _strTlsCertFile; }
    const std::string& tlsKeyFile() const { return _strTlsKeyFile; }

    // Each changes the document (and the member where said) and saves at once.
    // Throws 6111 when not loaded or when saving fails.
    // Adds the domain to the known ones when new; becomes the default.
    void setDefaultDomain(const Domain& domain);
    // Adds the profile to the known ones when new; becomes the default.
    void setDefaultProfile(const Profile& profile);
    void setUserId(const std::string& strUserId);
    // Machine-wide "Connect" and "Master": written only when loaded as admin,
    // and read back into ostrelLocal()/ostrelMaster() only by the next load.
    void setOstrelLocal(const std::string& strHost);
    void setOstrelMaster(const std::string& strHost);
    // Machine-wide TLS trust, likewise (an empty text removes the setting's
    // effect); the pin is checked for its form first.
    void setTlsCAFile(const std::string& strPath);
    void setTlsPin(const std::string& strPin);
    void setTlsClientCertificate(const std::string& strCertFile, const std::string& strKeyFile);

    // Writes the per-user document, and the machine-wide one when loaded as
    // admin. Each file is replaced whole (a new file beside it, synced, then
    // renamed over it), so a failure at any point leaves the old file as it was.
    // Throws 6111 "Failed to open HKCU For writing." (HKLM) when the new file
    // cannot be made, and 6111 naming the file and the reason for later failures.
    void save();

    const std::string& hkcuPath() const { return _strHKCU; }
    const std::string& hklmPath() const { return _strHKLM; }
    // The settings that loaded last and still exist; null otherwise.
    static Settings* current() { return _psettings; }

    // Files larger than this are refused by load: settings are a few lines.
    static constexpr long nMaxFileBytes = 1024 * 1024;

private:
    // The node, made (empty) when missing; throws 6111 with strLegend when it
    // cannot be had.
    static Vesk::XMLNode* childKey(Vesk::XMLNode* pparent, const char* pszName, const std::string& strLegend);
    // Sets the element's text, adding the element when missing.
    static void setValue(Vesk::XMLNode* pparent, const char* pszName, const std::string& strValue);
    // Throws 6111 "Settings not loaded." before a successful load.
    void requireLoaded() const;

    bool _bAdmin;
    std::string _strHKCU;
    std::string _strHKLM;
    Vesk::XMLDoc _docHKCU;
    Vesk::XMLDoc _docHKLM;
    Vesk::XMLNode* _keyHKCU;
    Vesk::XMLNode* _keyHKLM;
    Vesk::XMLNode* _keyRootTessalyCU;
    Vesk::XMLNode* _keyRootTessalyLM;
    Vesk::XMLNode* _keyRootOstrelCU;
    Vesk::XMLNode* _keyRootOstrelLM;
    DomainMap _domainS;
    std::string _strDomain;
    ProfileMap _profileS;
    std::string _strProfile;
    std::string _strUserId;
    std::string _strOstrelLocal;
    std::string _strOstrelMaster;
    std::string _strTlsCAFile;
    std::string _strTlsPin;
    std::string _strTlsCertFile;
    std::string _strTlsKeyFile;

    static Settings* _psettings;
};

} // namespace OstrelClientConfig

#endif
