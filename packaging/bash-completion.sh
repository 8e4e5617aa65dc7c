# bash completion for scrivara-cli
_scrivara_cli() {
  local cur prev cmd
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  cmd=${COMP_WORDS[1]}
  local commands="dump convert pdf sr img echo store find worklist setup log-viewer --help --version"
  local net="--aet --aec --host --port --tls --no-tls --tls-profile --ca --cert --key --no-host-check
             --url --user --password-file --token-file"
  local setuptls="--pacs-tls --pacs-tls-profile --pacs-ca --pacs-cert --pacs-key --pacs-host-check
                  --worklist-tls --worklist-tls-profile --worklist-ca --worklist-cert --worklist-key
                  --worklist-host-check --pacs-dicomweb --pacs-url --pacs-auth --pacs-user --pacs-password-file
                  --pacs-token-file"
  local study="--patient-name --patient-id --birth-date --sex --accession --study-uid --study-description
               --institution --modality --worklist --date --study"
  local search="--name --id --description --date --modality"
  if ((COMP_CWORD == 1)); then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
    return
  fi
  case $prev in
    --modality)
      case $cmd in
        find|worklist) COMPREPLY=($(compgen -W "US CR CT MR DX XA ES OT BMD SC PX NM MG ALL" -- "$cur")) ;;
        *) COMPREPLY=($(compgen -W "US CR CT MR DX XA ES OT BMD SC PX NM MG" -- "$cur")) ;;
      esac
      return ;;
    --ts) COMPREPLY=($(compgen -W "1.2.840.10008.1.2 1.2.840.10008.1.2.1 1.2.840.10008.1.2.2 1.2.840.10008.1.2.1.99
                                    1.2.840.10008.1.2.5 1.2.840.10008.1.2.4.50
                                    1.2.840.10008.1.2.4.51 1.2.840.10008.1.2.4.70 1.2.840.10008.1.2.4.90
                                    1.2.840.10008.1.2.4.91" -- "$cur")); return ;;
    --sex) COMPREPLY=($(compgen -W "M F O" -- "$cur")); return ;;
    --debug|--pacs-tls|--worklist-tls|--pacs-host-check|--worklist-host-check|--pacs-dicomweb)
      COMPREPLY=($(compgen -W "on off" -- "$cur")); return ;;
    --tls-profile|--pacs-tls-profile|--worklist-tls-profile)
      COMPREPLY=($(compgen -W "bcp195-nd bcp195 bcp195-ex" -- "$cur")); return ;;
    --pacs-auth) COMPREPLY=($(compgen -W "none basic token" -- "$cur")); return ;;
    --ca|--cert|--key|--pacs-ca|--pacs-cert|--pacs-key|--worklist-ca|--worklist-cert|--worklist-key|\
    --password-file|--token-file|--pacs-password-file|--pacs-token-file)
      COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --aet|--aec|--host|--port|--patient-name|--patient-id|--birth-date|--accession|--study-uid|\
    --study-description|--institution|--date|--study|--name|--id|--description|--pacs|--url|--user|--pacs-url|\
    --pacs-user) return ;;
    --worklist) [[ $cmd == echo ]] || return ;;
  esac
  local options="--help"
  case $cmd in
    convert) options="--ts --help" ;;
    pdf) options="--accept-unreadable $study $net --help" ;;
    sr|img) options="$study $net --help" ;;
    echo) options="--worklist $net --help" ;;
    store) options="--outbox --wait $net --help" ;;
    find|worklist) options="$search $net --help" ;;
    setup) options="--aet --institution --pacs --worklist --debug $setuptls --help" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  else
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
complete -o filenames -F _scrivara_cli scrivara-cli
