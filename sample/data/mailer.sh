#!/bin/sh
# The sample board's mailer.  kvpost hands it each mail a caller wrote to
# the Internet; instead of sending it off the machine, it appends the mail
# to the board's mail/sent, a mailbox any mail reader opens.  For real mail,
# install a mail transport and set MailerPath to /usr/sbin/sendmail.
#
#   mailer.sh -oi -f SENDER RECIPIENT...

sender=
while [ $# -gt 0 ]; do
    case "$1" in
        -f) sender=$2; shift 2 ;;
        -*) shift ;;
        *) break ;;
    esac
done
[ -n "$sender" ] || sender=MAILER-DAEMON  # a caller without an alias
{
    printf 'From %s %s\n' "$sender" "$(date -u '+%a %b %e %H:%M:%S %Y')"
    printf 'X-Envelope-To: %s\n' "$*"
    sed 's/^From />From /'
    echo
} >> "@BOARD@/mail/sent"
