'''Adds the vCard files named to the session's built-in Evolution address book (libebook).'''

import sys

import gi

gi.require_version('EDataServer', '1.2')
gi.require_version('EBook', '1.2')
gi.require_version('EBookContacts', '1.2')
from gi.repository import EBook, EBookContacts, EDataServer  # noqa: E402

registry = EDataServer.SourceRegistry.new_sync(None)
client = EBook.BookClient.connect_sync(registry.ref_builtin_address_book(), 10, None)
for name in sys.argv[1:]:
    with open(name, encoding='utf-8') as card:
        contact = EBookContacts.Contact.new_from_vcard(card.read())
    ok, uid = client.add_contact_sync(contact, EBookContacts.BookOperationFlags.NONE, None)
    if not ok:
        sys.exit(1)
