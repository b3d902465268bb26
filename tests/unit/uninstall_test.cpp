// The security that the uninstaller's work folder in Windows' TEMP is made
// with, read part by part through the platform's security API: what the
// uninstaller asks for, which Wine does not keep on the folder (it keeps
// only Unix permission bits, and reports the Unix owner), so that reading
// the folder back cannot tell.
#include <gtest/gtest.h>
#include "uninstall/uninstall.h"

// A well-known SID, such as Administrators' or the system's.
struct KnownSid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    explicit KnownSid(WELL_KNOWN_SID_TYPE type)
    {
        DWORD size = sizeof bytes;
        if (!CreateWellKnownSid(type, 0, bytes, &size))
            ADD_FAILURE() << "no SID of type " << type;
    }
    PSID sid() { return bytes; }
};

struct Descriptor {
    PSECURITY_DESCRIPTOR held = WorkFolderDescriptor();
    ~Descriptor()
    {
        if (held)
            LocalFree(held);
    }
};

TEST(WorkFolderDescriptor, IsAValidDescriptorOwnedByAdministrators)
{
    Descriptor descriptor;
    ASSERT_NE(descriptor.held, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor.held));
    PSID owner = 0;
    BOOL defaulted = TRUE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.held, &owner, &defaulted));
    ASSERT_NE(owner, nullptr) << "no owner: the elevated token's would be taken";
    EXPECT_FALSE(defaulted);
    EXPECT_TRUE(EqualSid(owner, KnownSid(WinBuiltinAdministratorsSid).sid()));
}

TEST(WorkFolderDescriptor, HasAProtectedDaclPresentAndNoSacl)
{
    Descriptor descriptor;
    ASSERT_NE(descriptor.held, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor.held, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PRESENT);
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "TEMP's inheritable entries would be inherited";
    EXPECT_FALSE(control & SE_DACL_DEFAULTED);
    EXPECT_FALSE(control & SE_SACL_PRESENT);
}

TEST(WorkFolderDescriptor, GrantsAdministratorsAndTheSystemAloneFullAccessInherited)
{
    Descriptor descriptor;
    ASSERT_NE(descriptor.held, nullptr);
    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = 0;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.held, &present, &dacl, &defaulted));
    ASSERT_TRUE(present);
    ASSERT_NE(dacl, nullptr) << "a null DACL grants everyone everything";
    EXPECT_TRUE(IsValidAcl(dacl));
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof size, AclSizeInformation));
    ASSERT_EQ(size.AceCount, 2u);
    KnownSid administrators(WinBuiltinAdministratorsSid), system(WinLocalSystemSid);
    const PSID expected[] = {administrators.sid(), system.sid()};
    for (DWORD i = 0; i < size.AceCount; i++) {
        void *entry = 0;
        ASSERT_TRUE(GetAce(dacl, i, &entry));
        const ACE_HEADER *header = (const ACE_HEADER *)entry;
        EXPECT_EQ(header->AceType, ACCESS_ALLOWED_ACE_TYPE) << "entry " << i;
        EXPECT_EQ(header->AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) << "entry " << i;
        ACCESS_ALLOWED_ACE *allowed = (ACCESS_ALLOWED_ACE *)entry;
        EXPECT_EQ(allowed->Mask, (DWORD)FILE_ALL_ACCESS) << "entry " << i;
        EXPECT_TRUE(EqualSid((PSID)&allowed->SidStart, expected[i])) << "entry " << i;
    }
}
