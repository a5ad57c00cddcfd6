# fish completion for orrinfold

# SOURCE and DEST are folders.
complete -c orrinfold -f -a '(__fish_complete_directories (commandline -ct))'

complete -c orrinfold -s h -l help -d 'Print a summary of the options and exit'
complete -c orrinfold -s V -l version -d 'Print the version and exit'
complete -c orrinfold -l virtual-root -x -a '(__fish_complete_directories (commandline -ct))' -d 'Folder that virtual paths starting with / are taken from'
complete -c orrinfold -l convert -x -d 'Masks of documents to convert'
complete -c orrinfold -l skip -x -d 'Masks of files and folders to leave out'
complete -c orrinfold -l allow-outside -r -F -d 'A folder or file outside the site that pages may read'
complete -c orrinfold -l dialect -x -a 'orrinfold apache' -d 'SSI dialect'
complete -c orrinfold -l ap-expr -d "Read if/elif expressions in Apache's newer syntax"
complete -c orrinfold -l rename-pages -x -a 'html htm' -d 'Write converted pages as NAME.EXT'
complete -c orrinfold -l redirects -d 'Leave a page under each old name that redirects to the new one'
complete -c orrinfold -l check-links -d 'Report local links in the output that lead to nothing'
complete -c orrinfold -s j -l jobs -x -d 'Files converted or copied at once'
complete -c orrinfold -l full -d 'Convert and copy every file, even those up to date'
complete -c orrinfold -l state-dir -x -a '(__fish_complete_directories (commandline -ct))' -d 'Folder for the record of runs'
complete -c orrinfold -l watch -d 'After the run, rebuild what changed whenever SOURCE changes'
complete -c orrinfold -s v -l verbose -d 'Also print a line for each file that is up to date'
complete -c orrinfold -s q -l quiet -d 'Print only errors, warnings and the summary'
complete -c orrinfold -s k -l keep-going -d 'Report a file that fails and go on'
complete -c orrinfold -l werror -d 'Exit with status 1 when any error or warning was reported'
complete -c orrinfold -l check -d 'Only check the site, writing nothing'
complete -c orrinfold -n '__fish_is_first_arg' -a serve -d 'Build, watch and serve the site with live reload'
complete -c orrinfold -l port -x -d 'serve: the port to listen on'
complete -c orrinfold -l bind -x -d 'serve: the address to listen on'
complete -c orrinfold -l open -d 'serve: open the site in the browser once built'
