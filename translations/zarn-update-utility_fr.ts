<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>CommandLine</name>
    <message>
        <source>warning: %1</source>
        <translation>avertissement : %1</translation>
    </message>
    <message>
        <source>unknown command or wrong arguments: %1</source>
        <translation>commande inconnue ou arguments erronés : %1</translation>
    </message>
    <message>
        <source>%1: the certificate of %2 expires on %3, %4</source>
        <translation>%1 : le certificat de %2 expire le %3, %4</translation>
    </message>
    <message>
        <source>Hardware timestamp: %1</source>
        <translation>Horodatage matériel : %1</translation>
    </message>
    <message>
        <source>Software version:   %1</source>
        <translation>Version logicielle : %1</translation>
    </message>
    <message>
        <source>PID version:        %1</source>
        <translation>Version PID :        %1</translation>
    </message>
    <message>
        <source>%1 (not given by the driver: a stand-in)</source>
        <translation>%1 (non donnée par le pilote : une valeur de remplacement)</translation>
    </message>
    <message>
        <source>%1. %2  version %3  min HW %4  address %5  size %6</source>
        <translation>%1. %2  version %3  HW min. %4  adresse %5  taille %6</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n images, %2, ready to update</source>
        <translation>
            <numerusform>%1 : %n image, %2, prêt pour la mise à jour</numerusform>
            <numerusform>%1 : %n images, %2, prêt pour la mise à jour</numerusform>
        </translation>
    </message>
    <message>
        <source>image %1 (%2) at %3: %4</source>
        <translation>image %1 (%2) à %3 : %4</translation>
    </message>
    <message>
        <source>equal</source>
        <translation>identique</translation>
    </message>
    <message>
        <source>DIFFERS</source>
        <translation>DIFFÉRENTE</translation>
    </message>
    <message numerus="yes">
        <source>the flash does not hold %1: %2 of %n images differ</source>
        <translation>
            <numerusform>le flash ne contient pas %1 : %2 image sur %n diffère</numerusform>
            <numerusform>le flash ne contient pas %1 : %2 images sur %n diffèrent</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 ne peut pas être écrit : %2</translation>
    </message>
    <message>
        <source>it is a link to nothing</source>
        <translation>c&apos;est un lien vers rien</translation>
    </message>
    <message>
        <source>%1 is not a regular file: a backup is written only to a regular file</source>
        <translation>%1 n&apos;est pas un fichier ordinaire : une sauvegarde ne s&apos;écrit que dans un fichier ordinaire</translation>
    </message>
    <message>
        <source>%1 is the update file itself: the backup would replace it</source>
        <translation>%1 est le fichier de mise à jour lui-même : la sauvegarde le remplacerait</translation>
    </message>
    <message>
        <source>%1 exists: give --force to replace it</source>
        <translation>%1 existe : donnez --force pour le remplacer</translation>
    </message>
    <message numerus="yes">
        <source>Saved what the flash holds for %n images in %1</source>
        <translation>
            <numerusform>Contenu du flash pour %n image enregistré dans %1</numerusform>
            <numerusform>Contenu du flash pour %n images enregistré dans %1</numerusform>
        </translation>
    </message>
    <message>
        <source>%1  [zarn-update resume finishes it]  [zarn-update restore undoes it]</source>
        <translation>%1  [zarn-update resume l&apos;achève]  [zarn-update restore l&apos;annule]</translation>
    </message>
    <message>
        <source>%1  [zarn-update resume finishes it]</source>
        <translation>%1  [zarn-update resume l&apos;achève]</translation>
    </message>
    <message>
        <source>%1  [zarn-update restore undoes it]</source>
        <translation>%1  [zarn-update restore l&apos;annule]</translation>
    </message>
    <message numerus="yes">
        <source>%1  %2  %3  %4  %n images  %5 s  %6</source>
        <translation>
            <numerusform>%1  %2  %3  %4  %n image  %5 s  %6</numerusform>
            <numerusform>%1  %2  %3  %4  %n images  %5 s  %6</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Update the ZARN flash with these %n images?</source>
        <translation>
            <numerusform>Mettre à jour le flash ZARN avec cette image ?</numerusform>
            <numerusform>Mettre à jour le flash ZARN avec ces %n images ?</numerusform>
        </translation>
    </message>
    <message>
        <source>not confirmed: give --yes to update without a question</source>
        <translation>non confirmé : donnez --yes pour mettre à jour sans question</translation>
    </message>
    <message>
        <source>not confirmed: nothing was changed</source>
        <translation>non confirmé : rien n&apos;a été modifié</translation>
    </message>
    <message>
        <source>image %1 of %2 %3 | %4 %5% | total %6% | %7 elapsed, %8 left</source>
        <translation>image %1 sur %2 %3 | %4 %5% | total %6% | %7 écoulé, %8 restant</translation>
    </message>
    <message>
        <source>starting</source>
        <translation>début</translation>
    </message>
    <message>
        <source>comparing</source>
        <translation>comparaison</translation>
    </message>
    <message>
        <source>erasing</source>
        <translation>effacement</translation>
    </message>
    <message>
        <source>writing</source>
        <translation>écriture</translation>
    </message>
    <message>
        <source>verifying</source>
        <translation>vérification</translation>
    </message>
    <message>
        <source>final check</source>
        <translation>contrôle final</translation>
    </message>
    <message>
        <source>The update will not be recorded in the history: %1</source>
        <translation>La mise à jour ne sera pas inscrite dans l&apos;historique : %1</translation>
    </message>
    <message>
        <source>Pages: %1 skipped, %2 written (%3 without erasing), of %4</source>
        <translation>Pages : %1 sautées, %2 écrites (%3 sans effacement), sur %4</translation>
    </message>
    <message>
        <source>the update failed: %1. The ZARN system may not start: run the update again before restarting.</source>
        <translation>la mise à jour a échoué : %1. Le système ZARN risque de ne pas démarrer : relancez la mise à jour avant de redémarrer.</translation>
    </message>
    <message>
        <source>the update did not take place: %1. The flash memory was not changed.</source>
        <translation>la mise à jour n&apos;a pas eu lieu : %1. La mémoire flash n&apos;a pas été modifiée.</translation>
    </message>
    <message>
        <source>Going on as asked (%1): %2</source>
        <translation>Poursuite comme demandé (%1) : %2</translation>
    </message>
    <message>
        <source>Nothing to finish: the newest update, started %1 from %2, ended verified.</source>
        <translation>Rien à achever : la mise à jour la plus récente, lancée le %1 depuis %2, s&apos;est terminée vérifiée.</translation>
    </message>
    <message>
        <source>The update started %1 from %2 cannot be finished: the journal kept no copy of it</source>
        <translation>La mise à jour lancée le %1 depuis %2 ne peut pas être achevée : le journal n&apos;en a conservé aucune copie</translation>
    </message>
    <message>
        <source>Finishing the update started %1 by %2 from %3.</source>
        <translation>Achèvement de la mise à jour lancée le %1 par %2 depuis %3.</translation>
    </message>
    <message numerus="yes">
        <source>Finishing it would erase and write %n pages back as they were; nothing was changed.</source>
        <translation>
            <numerusform>L&apos;achever effacerait et réécrirait %n page telle qu&apos;elle était ; rien n&apos;a été modifié.</numerusform>
            <numerusform>L&apos;achever effacerait et réécrirait %n pages telles qu&apos;elles étaient ; rien n&apos;a été modifié.</numerusform>
        </translation>
    </message>
    <message>
        <source>Finish this update of the ZARN flash?</source>
        <translation>Achever cette mise à jour du flash ZARN ?</translation>
    </message>
    <message>
        <source>Only the newest update can be undone: %1 was followed by %2, started %3</source>
        <translation>Seule la mise à jour la plus récente peut être annulée : %1 a été suivie de %2, lancée le %3</translation>
    </message>
    <message>
        <source>The update started %1 from %2 cannot be undone: the journal kept no copy of what the flash held before it</source>
        <translation>La mise à jour lancée le %1 depuis %2 ne peut pas être annulée : le journal n&apos;a conservé aucune copie de ce que le flash contenait avant elle</translation>
    </message>
    <message numerus="yes">
        <source>Restoring what the flash held before the update started %1 by %2 from %3: %n pages.</source>
        <translation>
            <numerusform>Restauration de ce que le flash contenait avant la mise à jour lancée le %1 par %2 depuis %3 : %n page.</numerusform>
            <numerusform>Restauration de ce que le flash contenait avant la mise à jour lancée le %1 par %2 depuis %3 : %n pages.</numerusform>
        </translation>
    </message>
    <message>
        <source>Restore the previous contents of the ZARN flash?</source>
        <translation>Restaurer le contenu précédent du flash ZARN ?</translation>
    </message>
    <message>
        <source>%1. %2 at %3: %4 pages: %5 to erase and write, %6 to write without erasing, %7 left as they are</source>
        <translation>%1. %2 à %3 : %4 pages : %5 à effacer et écrire, %6 à écrire sans effacement, %7 laissées telles quelles</translation>
    </message>
    <message>
        <source>An update would erase and write %1 of %2 pages, write %3 without erasing and leave %4 as they are; nothing was changed.</source>
        <translation>Une mise à jour effacerait et écrirait %1 pages sur %2, en écrirait %3 sans effacement et en laisserait %4 telles quelles ; rien n&apos;a été modifié.</translation>
    </message>
    <message>
        <source>No earlier update on this system gives the device&apos;s speed to estimate the time.</source>
        <translation>Aucune mise à jour antérieure sur ce système ne donne la vitesse du périphérique pour estimer la durée.</translation>
    </message>
    <message>
        <source>It would take about %1 s of device time, at the speed of the update of %2.</source>
        <translation>Cela prendrait environ %1 s de temps du périphérique, à la vitesse de la mise à jour du %2.</translation>
    </message>
    <message>
        <source>Certificate %1</source>
        <translation>Certificat %1</translation>
    </message>
    <message>
        <source>  subject       %1</source>
        <translation>  sujet         %1</translation>
    </message>
    <message>
        <source>  issuer        %1 (not installed)</source>
        <translation>  émetteur      %1 (non installé)</translation>
    </message>
    <message>
        <source>  issuer        %1 (installed, its signature verifies)</source>
        <translation>  émetteur      %1 (installé, sa signature se vérifie)</translation>
    </message>
    <message>
        <source>  issuer        %1 (installed, but the signature does not verify)</source>
        <translation>  émetteur      %1 (installé, mais la signature ne se vérifie pas)</translation>
    </message>
    <message>
        <source>  issuer        %1</source>
        <translation>  émetteur      %1</translation>
    </message>
    <message>
        <source>  serial        %1</source>
        <translation>  numéro        %1</translation>
    </message>
    <message>
        <source>  valid         %1</source>
        <translation>  valide        %1</translation>
    </message>
    <message>
        <source>%1 to %2, expired %3 days ago</source>
        <translation>%1 au %2, expiré depuis %3 jours</translation>
    </message>
    <message>
        <source>%1 to %2, %3 days left</source>
        <translation>%1 au %2, encore %3 jours</translation>
    </message>
    <message>
        <source>  code signing  %1</source>
        <translation>  signature de code  %1</translation>
    </message>
    <message>
        <source>  authority     %1</source>
        <translation>  autorité     %1</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>oui</translation>
    </message>
    <message>
        <source>no</source>
        <translation>non</translation>
    </message>
    <message>
        <source>Revocation list %1</source>
        <translation>Liste de révocation %1</translation>
    </message>
    <message>
        <source>  updated       %1, next update %2 (passed; still used)</source>
        <translation>  mise à jour   %1, prochaine mise à jour %2 (dépassée ; encore utilisée)</translation>
    </message>
    <message>
        <source>  updated       %1, next update %2</source>
        <translation>  mise à jour   %1, prochaine mise à jour %2</translation>
    </message>
    <message>
        <source>  updated       %1, no next update given</source>
        <translation>  mise à jour   %1, pas de prochaine mise à jour indiquée</translation>
    </message>
    <message numerus="yes">
        <source>  revoked       %n certificates</source>
        <translation>
            <numerusform>  révoqués      %n certificat</numerusform>
            <numerusform>  révoqués      %n certificats</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>  revoked       %n certificate</source>
        <translation>
            <numerusform>  révoqués      %n certificat</numerusform>
            <numerusform>  révoqués      %n certificats</numerusform>
        </translation>
    </message>
    <message>
        <source>  refuses       every update file: %1</source>
        <translation>  refuse        tout fichier de mise à jour : %1</translation>
    </message>
    <message>
        <source>%1 does not exist</source>
        <translation>%1 n&apos;existe pas</translation>
    </message>
    <message>
        <source>No trusted certificate in %1: unsigned update files are accepted</source>
        <translation>Aucun certificat de confiance dans %1 : les fichiers de mise à jour non signés sont acceptés</translation>
    </message>
    <message>
        <source>Usage: zarn-update [--json] COMMAND [ARGUMENTS]
       zarn-update --help | --version

  versions              the versions installed on the ZARN system
  info FILE             the images of an update file
  check FILE            check an update file as an update would, without the flash
  update FILE [--yes] [--only-changed] [--dry-run] [--allow-older-hardware] [--allow-downgrade]
              [--ignore-power] [--no-recovery-copy]
                        update the flash from FILE (asks first on a terminal); --only-changed
                        writes only the pages that do not hold FILE&apos;s bytes already; --dry-run
                        makes every check and shows the pages it would erase and write, without
                        touching the flash
  verify FILE           compare the flash with FILE&apos;s images, without writing
  backup FILE OUT [--force]
                        save what the flash holds where FILE&apos;s images go, as an update file;
                        an existing OUT is replaced only with --force, never FILE itself
  history               the updates made on this system, and which can be resumed or restored
  resume [--yes] [--dry-run]
                        finish the newest update that did not end verified, from the copy the
                        journal kept of it
  restore [ID] [--yes]  write back what the flash held before the newest update
  trust [FOLDER...]     the certificates and revocation lists of the trusted folders

check and update refuse an image that needs newer hardware than this system has, unless given
--allow-older-hardware, and an image older than the one last written and verified at its address
under its name, unless given --allow-downgrade; update refuses to start on a battery below the
site&apos;s minimum charge (30 %, or [power] minimum-battery-percent in
/etc/zarn-update-utility/update.conf), unless given --ignore-power. The history is the system&apos;s
journal in /var/lib/zarn-update-utility (or ZARN_JOURNAL_DIR), or the user&apos;s own where that
cannot be written.

--json writes one JSON object a line. Exit statuses: 0 success, 1 update failed, 2 usage,
3 refused file, 4 refused signature, 5 no device or permission, 6 busy, 7 verification
failed, 8 completed after a signal asked to stop, 9 not confirmed. See zarn-update(1).
</source>
        <translation>Usage : zarn-update [--json] COMMANDE [ARGUMENTS]
        zarn-update --help | --version

  versions              les versions installées sur le système ZARN
  info FICHIER          les images d&apos;un fichier de mise à jour
  check FICHIER         vérifier un fichier de mise à jour comme une mise à jour, sans le flash
  update FICHIER [--yes] [--only-changed] [--dry-run] [--allow-older-hardware] [--allow-downgrade]
              [--ignore-power] [--no-recovery-copy]
                        mettre à jour le flash depuis FICHIER (demande d&apos;abord sur un terminal) ;
                        --only-changed n&apos;écrit que les pages qui ne contiennent pas déjà les
                        octets de FICHIER ; --dry-run fait toutes les vérifications et montre les
                        pages qui seraient effacées et écrites, sans toucher au flash
  verify FICHIER        comparer le flash avec les images de FICHIER, sans écrire
  backup FICHIER SORTIE [--force]
                        enregistrer ce que le flash contient là où vont les images de FICHIER,
                        comme fichier de mise à jour ; une SORTIE existante n&apos;est remplacée
                        qu&apos;avec --force, jamais FICHIER lui-même
  history               les mises à jour faites sur ce système, et celles qui peuvent être
                        reprises ou annulées
  resume [--yes] [--dry-run]
                        achever la mise à jour la plus récente qui ne s&apos;est pas terminée
                        vérifiée, depuis la copie conservée par le journal
  restore [ID] [--yes]  réécrire ce que le flash contenait avant la mise à jour la plus récente
  trust [DOSSIER...]    les certificats et listes de révocation des dossiers de confiance

check et update refusent une image qui exige un matériel plus récent que celui de ce système,
sauf avec --allow-older-hardware, et une image plus ancienne que la dernière écrite et vérifiée à
son adresse sous son nom, sauf avec --allow-downgrade ; update refuse de démarrer sur une batterie
sous la charge minimale du site (30 %, ou [power] minimum-battery-percent dans
/etc/zarn-update-utility/update.conf), sauf avec --ignore-power. L&apos;historique est le journal du
système dans /var/lib/zarn-update-utility (ou ZARN_JOURNAL_DIR), ou celui de l&apos;utilisateur là où
celui-ci ne peut pas être écrit.

--json écrit un objet JSON par ligne. Codes de sortie : 0 succès, 1 échec de la mise à jour,
2 usage, 3 fichier refusé, 4 signature refusée, 5 pas de périphérique ou de permission,
6 occupé, 7 échec de la vérification, 8 terminé après un signal demandant l&apos;arrêt,
9 non confirmé. Voir zarn-update(1).
</translation>
    </message>
    <message>
        <source>the update failed: %1 (%2). The ZARN system may not start: run the update again before restarting.</source>
        <translation>la mise à jour a échoué : %1 (%2). Le système ZARN risque de ne pas démarrer : relancez la mise à jour avant de redémarrer.</translation>
    </message>
    <message>
        <source>the update did not take place: %1 (%2). The flash memory was not changed.</source>
        <translation>la mise à jour n&apos;a pas eu lieu : %1 (%2). La mémoire flash n&apos;a pas été modifiée.</translation>
    </message>
</context>
<context>
    <name>ImageInfoDialog</name>
    <message>
        <source>Image info</source>
        <translation>Informations sur les images</translation>
    </message>
    <message>
        <source>Filename: </source>
        <translation>Nom du fichier : </translation>
    </message>
    <message>
        <source>Images</source>
        <translation>Images</translation>
    </message>
</context>
<context>
    <name>ImageItem</name>
    <message>
        <source>Form</source>
        <translation>Formulaire</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nom</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version :</translation>
    </message>
    <message>
        <source>Min HW:</source>
        <translation>HW min. :</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Adresse :</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>Taille :</translation>
    </message>
</context>
<context>
    <name>Line</name>
    <message>
        <source>the device moved no data</source>
        <translation>le périphérique n&apos;a transféré aucune donnée</translation>
    </message>
    <message>
        <source>%1: the user must be a member of the group zarn and log in again</source>
        <translation>%1 : l&apos;utilisateur doit être membre du groupe zarn et se reconnecter</translation>
    </message>
    <message>
        <source>Error seeking Flash memory at 0x%1: %2</source>
        <translation>Erreur de positionnement dans la mémoire flash à 0x%1 : %2</translation>
    </message>
    <message>
        <source>Error reading Flash memory at 0x%1: %2</source>
        <translation>Erreur de lecture de la mémoire flash à 0x%1 : %2</translation>
    </message>
    <message>
        <source>Error writing Flash memory at 0x%1: %2</source>
        <translation>Erreur d&apos;écriture de la mémoire flash à 0x%1 : %2</translation>
    </message>
    <message>
        <source>Error erasing Flash memory at 0x%1: %2</source>
        <translation>Erreur d&apos;effacement de la mémoire flash à 0x%1 : %2</translation>
    </message>
    <message>
        <source>Error locking %1: %2</source>
        <translation>Erreur de verrouillage de %1 : %2</translation>
    </message>
    <message>
        <source>Error unlocking Flash memory.</source>
        <translation>Erreur de déverrouillage de la mémoire flash.</translation>
    </message>
    <message>
        <source>The ZARN flash is being verified by zarn-update verify (process %1).</source>
        <translation>Le flash ZARN est en cours de vérification par zarn-update verify (processus %1).</translation>
    </message>
    <message>
        <source>The ZARN flash is being verified by zarn-update verify.</source>
        <translation>Le flash ZARN est en cours de vérification par zarn-update verify.</translation>
    </message>
    <message>
        <source>The ZARN flash is being read by zarn-update backup (process %1).</source>
        <translation>Le flash ZARN est en cours de lecture par zarn-update backup (processus %1).</translation>
    </message>
    <message>
        <source>The ZARN flash is being read by zarn-update backup.</source>
        <translation>Le flash ZARN est en cours de lecture par zarn-update backup.</translation>
    </message>
    <message>
        <source>Another update of the ZARN flash is under way (process %1).</source>
        <translation>Une autre mise à jour du flash ZARN est en cours (processus %1).</translation>
    </message>
    <message>
        <source>Another update of the ZARN flash is under way.</source>
        <translation>Une autre mise à jour du flash ZARN est en cours.</translation>
    </message>
    <message>
        <source>Error in %1: %2</source>
        <translation>Erreur dans %1 : %2</translation>
    </message>
    <message>
        <source>Error opening %1: %2</source>
        <translation>Erreur d&apos;ouverture de %1 : %2</translation>
    </message>
    <message>
        <source>Error opening %1</source>
        <translation>Erreur d&apos;ouverture de %1</translation>
    </message>
    <message>
        <source>the file is 4 GiB or larger</source>
        <translation>le fichier fait 4 Gio ou plus</translation>
    </message>
    <message>
        <source>no image found</source>
        <translation>aucune image trouvée</translation>
    </message>
    <message>
        <source>image header cut short at 0x%1</source>
        <translation>en-tête d&apos;image tronqué à 0x%1</translation>
    </message>
    <message>
        <source>%1 is larger than 32 MiB, size 0x%2</source>
        <translation>%1 dépasse 32 Mio, taille 0x%2</translation>
    </message>
    <message>
        <source>%1 at 0x%2 runs past the last flash address 0xffffffff</source>
        <translation>%1 à 0x%2 dépasse la dernière adresse flash 0xffffffff</translation>
    </message>
    <message>
        <source>%1 is shorter than its header, size 0x%2</source>
        <translation>%1 est plus court que son en-tête, taille 0x%2</translation>
    </message>
    <message>
        <source>%1 at 0x%2 would erase %3 at 0x%4</source>
        <translation>%1 à 0x%2 effacerait %3 à 0x%4</translation>
    </message>
    <message>
        <source>image %1 (%2)</source>
        <translation>image %1 (%2)</translation>
    </message>
    <message>
        <source>image %1</source>
        <translation>image %1</translation>
    </message>
    <message>
        <source>checksum file %1 is not in the format sha256sum writes</source>
        <translation>le fichier de somme de contrôle %1 n&apos;est pas au format qu&apos;écrit sha256sum</translation>
    </message>
    <message>
        <source>checksum file %1 holds no checksum of %2</source>
        <translation>le fichier de somme de contrôle %1 ne contient aucune somme de %2</translation>
    </message>
    <message>
        <source>checksum file %1 cannot be read</source>
        <translation>le fichier de somme de contrôle %1 ne peut pas être lu</translation>
    </message>
    <message>
        <source>signature %1 is not a CMS signature</source>
        <translation>la signature %1 n&apos;est pas une signature CMS</translation>
    </message>
    <message>
        <source>signature %1 carries a content of its own instead of signing the file</source>
        <translation>la signature %1 porte son propre contenu au lieu de signer le fichier</translation>
    </message>
    <message>
        <source>signature %1 cannot be checked: no trusted certificate is installed</source>
        <translation>la signature %1 ne peut pas être vérifiée : aucun certificat de confiance n&apos;est installé</translation>
    </message>
    <message>
        <source>signature %1 does not carry its signer&apos;s certificate</source>
        <translation>la signature %1 ne contient pas le certificat de son signataire</translation>
    </message>
    <message>
        <source>signature %1 does not match the file</source>
        <translation>la signature %1 ne correspond pas au fichier</translation>
    </message>
    <message>
        <source>signature %1 names no signer</source>
        <translation>la signature %1 ne nomme aucun signataire</translation>
    </message>
    <message>
        <source>signature %1 cannot be read</source>
        <translation>la signature %1 ne peut pas être lue</translation>
    </message>
    <message>
        <source>its bytes cannot be read again</source>
        <translation>ses octets ne peuvent pas être relus</translation>
    </message>
    <message>
        <source>its SHA-256 checksum differs from the one in %1</source>
        <translation>sa somme SHA-256 diffère de celle de %1</translation>
    </message>
    <message>
        <source>not signed, and only files signed by a trusted certificate are accepted</source>
        <translation>non signé, et seuls les fichiers signés par un certificat de confiance sont acceptés</translation>
    </message>
    <message>
        <source>Signed by %1</source>
        <translation>Signé par %1</translation>
    </message>
    <message>
        <source>Checksum verified</source>
        <translation>Somme de contrôle vérifiée</translation>
    </message>
    <message>
        <source>Not signed</source>
        <translation>Non signé</translation>
    </message>
    <message>
        <source>signed by %1, whom no trusted certificate vouches for</source>
        <translation>signé par %1, dont aucun certificat de confiance ne se porte garant</translation>
    </message>
    <message>
        <source>the certificate of %1 (serial %2) was revoked on %3: %4</source>
        <translation>le certificat de %1 (numéro de série %2) a été révoqué le %3 : %4</translation>
    </message>
    <message>
        <source>the certificate of %1 expires on %2, %3</source>
        <translation>le certificat de %1 expire le %2, %3</translation>
    </message>
    <message>
        <source>today</source>
        <translation>aujourd&apos;hui</translation>
    </message>
    <message>
        <source>in 1 day</source>
        <translation>dans 1 jour</translation>
    </message>
    <message numerus="yes">
        <source>in %n days</source>
        <translation>
            <numerusform>dans %n jour</numerusform>
            <numerusform>dans %n jours</numerusform>
        </translation>
    </message>
    <message>
        <source>the certificate of %1 cannot be checked</source>
        <translation>le certificat de %1 ne peut pas être vérifié</translation>
    </message>
    <message>
        <source>the certificate of %1 expired on %2</source>
        <translation>le certificat de %1 a expiré le %2</translation>
    </message>
    <message>
        <source>the certificate of %1 is not valid before %2</source>
        <translation>le certificat de %1 n&apos;est pas valide avant le %2</translation>
    </message>
    <message>
        <source>the certificate of %1 cannot be verified: %2</source>
        <translation>le certificat de %1 ne peut pas être validé : %2</translation>
    </message>
    <message>
        <source>the certificate of %1 is not for code signing</source>
        <translation>le certificat de %1 n&apos;est pas destiné à la signature de code</translation>
    </message>
    <message>
        <source>a signer without a name</source>
        <translation>un signataire sans nom</translation>
    </message>
    <message>
        <source>an unreadable date</source>
        <translation>une date illisible</translation>
    </message>
    <message>
        <source>%1 bytes, more than the %2 a revocation list may have</source>
        <translation>%1 octets, plus que les %2 qu&apos;une liste de révocation peut avoir</translation>
    </message>
    <message>
        <source>%1 bytes, more than the %2 a trusted certificate file may have</source>
        <translation>%1 octets, plus que les %2 qu&apos;un fichier de certificats de confiance peut avoir</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>ce n&apos;est pas un fichier ordinaire</translation>
    </message>
    <message>
        <source>Error reading trusted certificate %1: %2</source>
        <translation>Erreur de lecture du certificat de confiance %1 : %2</translation>
    </message>
    <message>
        <source>Error reading trusted certificate %1</source>
        <translation>Erreur de lecture du certificat de confiance %1</translation>
    </message>
    <message>
        <source>Error reading revocation list %1: %2</source>
        <translation>Erreur de lecture de la liste de révocation %1 : %2</translation>
    </message>
    <message>
        <source>Error reading revocation list %1</source>
        <translation>Erreur de lecture de la liste de révocation %1</translation>
    </message>
    <message>
        <source>Error preparing the trusted certificates</source>
        <translation>Erreur de préparation des certificats de confiance</translation>
    </message>
    <message>
        <source>Error reading the trusted certificates in %1: %2</source>
        <translation>Erreur de lecture des certificats de confiance dans %1 : %2</translation>
    </message>
    <message>
        <source>Error checking revocation list %1: %2</source>
        <translation>Erreur de vérification de la liste de révocation %1 : %2</translation>
    </message>
    <message>
        <source>the revocation list %1 cannot be checked: no trusted certificate of its issuer, %2, is installed</source>
        <translation>la liste de révocation %1 ne peut pas être vérifiée : aucun certificat de confiance de son émetteur, %2, n&apos;est installé</translation>
    </message>
    <message>
        <source>the revocation list %1 cannot be used for the certificate of %2: %3</source>
        <translation>la liste de révocation %1 ne peut pas servir pour le certificat de %2 : %3</translation>
    </message>
    <message>
        <source>no reason given</source>
        <translation>aucune raison donnée</translation>
    </message>
    <message>
        <source>reason %1</source>
        <translation>raison %1</translation>
    </message>
    <message>
        <source>an unreadable one</source>
        <translation>une illisible</translation>
    </message>
    <message>
        <source>its dates cannot be read</source>
        <translation>ses dates ne peuvent pas être lues</translation>
    </message>
    <message>
        <source>it holds only the changes since another list (a delta list)</source>
        <translation>elle ne contient que les changements depuis une autre liste (une liste delta)</translation>
    </message>
    <message>
        <source>its scope cannot be read</source>
        <translation>sa portée ne peut pas être lue</translation>
    </message>
    <message>
        <source>it covers only some of its issuer&apos;s certificates</source>
        <translation>elle ne couvre qu&apos;une partie des certificats de son émetteur</translation>
    </message>
    <message>
        <source>it holds a critical extension that cannot be applied, %1</source>
        <translation>elle contient une extension critique qui ne peut pas être appliquée, %1</translation>
    </message>
    <message>
        <source>an entry holds a critical extension that cannot be applied, %1</source>
        <translation>une entrée contient une extension critique qui ne peut pas être appliquée, %1</translation>
    </message>
    <message>
        <source>it cannot be read</source>
        <translation>elle ne peut pas être lue</translation>
    </message>
    <message>
        <source>its signature does not verify with the trusted certificate of its issuer, %1</source>
        <translation>sa signature ne se vérifie pas avec le certificat de confiance de son émetteur, %1</translation>
    </message>
    <message>
        <source>the trusted certificate of its issuer, %1, is not for signing revocation lists</source>
        <translation>le certificat de confiance de son émetteur, %1, n&apos;est pas destiné à signer des listes de révocation</translation>
    </message>
    <message>
        <source>its signature does not verify with the certificate of its issuer</source>
        <translation>sa signature ne se vérifie pas avec le certificat de son émetteur</translation>
    </message>
    <message>
        <source>the certificate of its issuer is not for signing revocation lists</source>
        <translation>le certificat de son émetteur n&apos;est pas destiné à signer des listes de révocation</translation>
    </message>
    <message>
        <source>The system&apos;s journal %1 cannot be written (%2): the history is kept in %3, for this user only.</source>
        <translation>Le journal du système %1 ne peut pas être écrit (%2) : l&apos;historique est tenu dans %3, pour cet utilisateur seulement.</translation>
    </message>
    <message>
        <source>An update of the ZARN flash started %1 by %2 from %3 never ended: the ZARN system may not start. Run the update again before restarting the computer.</source>
        <translation>Une mise à jour du flash ZARN lancée le %1 par %2 depuis %3 ne s&apos;est jamais terminée : le système ZARN risque de ne pas démarrer. Relancez la mise à jour avant de redémarrer l&apos;ordinateur.</translation>
    </message>
    <message>
        <source>The history entry %1 cannot be read and is passed over: %2</source>
        <translation>L&apos;entrée d&apos;historique %1 ne peut pas être lue et est ignorée : %2</translation>
    </message>
    <message>
        <source>not a JSON object</source>
        <translation>ce n&apos;est pas un objet JSON</translation>
    </message>
    <message>
        <source>larger than the %1 MiB an entry can hold</source>
        <translation>plus grande que les %1 Mio qu&apos;une entrée peut contenir</translation>
    </message>
    <message>
        <source>cannot create %1: %2</source>
        <translation>impossible de créer %1 : %2</translation>
    </message>
    <message>
        <source>cannot create %1</source>
        <translation>impossible de créer %1</translation>
    </message>
    <message>
        <source>no file name: %1</source>
        <translation>pas de nom de fichier : %1</translation>
    </message>
    <message>
        <source>not an absolute path</source>
        <translation>ce n&apos;est pas un chemin absolu</translation>
    </message>
    <message>
        <source>%1 is not a folder</source>
        <translation>%1 n&apos;est pas un dossier</translation>
    </message>
    <message>
        <source>Updater initialization...</source>
        <translation>Préparation de la mise à jour...</translation>
    </message>
    <message>
        <source>Started erasing Flash memory...</source>
        <translation>Effacement de la mémoire flash commencé...</translation>
    </message>
    <message>
        <source>Started writing to Flash memory...</source>
        <translation>Écriture dans la mémoire flash commencée...</translation>
    </message>
    <message>
        <source>Verifying Flash memory...</source>
        <translation>Vérification de la mémoire flash...</translation>
    </message>
    <message>
        <source>Verifying Flash memory content.</source>
        <translation>Vérification du contenu de la mémoire flash.</translation>
    </message>
    <message>
        <source>Comparing Flash memory with the update...</source>
        <translation>Comparaison de la mémoire flash avec la mise à jour...</translation>
    </message>
    <message>
        <source>Pages to write: %1 of %2 (%3 without erasing); %4 already hold the update.</source>
        <translation>Pages à écrire : %1 sur %2 (%3 sans effacement) ; %4 contiennent déjà la mise à jour.</translation>
    </message>
    <message>
        <source>Reading back the whole update...</source>
        <translation>Relecture de toute la mise à jour...</translation>
    </message>
    <message>
        <source>Writing to Flash memory at 0x%1</source>
        <translation>Écriture dans la mémoire flash à 0x%1</translation>
    </message>
    <message>
        <source>Reading from Flash memory at 0x%1</source>
        <translation>Lecture de la mémoire flash à 0x%1</translation>
    </message>
    <message>
        <source>Erasing page at 0x%1</source>
        <translation>Effacement de la page à 0x%1</translation>
    </message>
    <message>
        <source>Error erasing page at 0x%1</source>
        <translation>Erreur d&apos;effacement de la page à 0x%1</translation>
    </message>
    <message>
        <source>Error verifying Flash memory at 0x%1</source>
        <translation>Erreur de vérification de la mémoire flash à 0x%1</translation>
    </message>
    <message>
        <source>Error allocating memory for the image at 0x%1</source>
        <translation>Erreur d&apos;allocation de mémoire pour l&apos;image à 0x%1</translation>
    </message>
    <message>
        <source>Error verifying %1: Flash memory differs from the update at 0x%2</source>
        <translation>Erreur de vérification de %1 : la mémoire flash diffère de la mise à jour à 0x%2</translation>
    </message>
    <message>
        <source>Error reading the update file</source>
        <translation>Erreur de lecture du fichier de mise à jour</translation>
    </message>
    <message>
        <source>Error reading %1</source>
        <translation>Erreur de lecture de %1</translation>
    </message>
    <message>
        <source>Error writing %1: %2</source>
        <translation>Erreur d&apos;écriture de %1 : %2</translation>
    </message>
    <message>
        <source>Done updating. It is now safe to restart the computer.</source>
        <translation>Mise à jour terminée. L&apos;ordinateur peut maintenant être redémarré sans risque.</translation>
    </message>
    <message>
        <source>%1 The update is not recorded in the history: %2.</source>
        <translation>%1 La mise à jour n&apos;est pas inscrite dans l&apos;historique : %2.</translation>
    </message>
    <message>
        <source>%1 Cause: %2.</source>
        <translation>%1 Cause : %2.</translation>
    </message>
    <message>
        <source>The update is complete: the flash memory holds the update file, read back and verified.</source>
        <translation>La mise à jour est terminée : la mémoire flash contient le fichier de mise à jour, relu et vérifié.</translation>
    </message>
    <message>
        <source>The update failed: the ZARN system may not start. Run the update again before restarting the computer.</source>
        <translation>La mise à jour a échoué : le système ZARN risque de ne pas démarrer. Relancez la mise à jour avant de redémarrer l&apos;ordinateur.</translation>
    </message>
    <message>
        <source>The update did not take place: the flash memory was not changed.</source>
        <translation>La mise à jour n&apos;a pas eu lieu : la mémoire flash n&apos;a pas été modifiée.</translation>
    </message>
    <message>
        <source>The recovery copy cannot be written in %1: %2</source>
        <translation>La copie de récupération ne peut pas être écrite dans %1 : %2</translation>
    </message>
    <message>
        <source>The recovery copy cannot be written: %1</source>
        <translation>La copie de récupération ne peut pas être écrite : %1</translation>
    </message>
    <message>
        <source>The room for the recovery copies in %1 cannot be told: %2</source>
        <translation>La place disponible pour les copies de récupération dans %1 ne peut pas être déterminée : %2</translation>
    </message>
    <message>
        <source>There is no room for the recovery copies in %1: %2 bytes are needed, %3 are free</source>
        <translation>Il n&apos;y a pas de place pour les copies de récupération dans %1 : %2 octets sont nécessaires, %3 sont libres</translation>
    </message>
    <message>
        <source>The update&apos;s bytes cannot be read for the recovery copy</source>
        <translation>Les octets de la mise à jour ne peuvent pas être lus pour la copie de récupération</translation>
    </message>
    <message>
        <source>The recovery copy %1 has changed since it was kept: its SHA-256 is not the history&apos;s</source>
        <translation>La copie de récupération %1 a changé depuis qu&apos;elle a été conservée : son SHA-256 n&apos;est pas celui de l&apos;historique</translation>
    </message>
    <message>
        <source>it is not a pre-image</source>
        <translation>ce n&apos;est pas une image d&apos;avant</translation>
    </message>
    <message>
        <source>its page record at %1 is cut short</source>
        <translation>son relevé de pages à %1 est tronqué</translation>
    </message>
    <message>
        <source>its page record at %1 is not one this program writes</source>
        <translation>son relevé de pages à %1 n&apos;est pas de ceux qu&apos;écrit ce programme</translation>
    </message>
    <message>
        <source>it holds no page</source>
        <translation>elle ne contient aucune page</translation>
    </message>
    <message>
        <source>the installed hardware value cannot be read (the ZARN driver gives none), so the images&apos; hardware requirements cannot be checked</source>
        <translation>la valeur matérielle installée ne peut pas être lue (le pilote ZARN n&apos;en donne aucune), les exigences matérielles des images ne peuvent donc pas être vérifiées</translation>
    </message>
    <message>
        <source>the installed hardware value cannot be read (%1), so the images&apos; hardware requirements cannot be checked</source>
        <translation>la valeur matérielle installée ne peut pas être lue (%1), les exigences matérielles des images ne peuvent donc pas être vérifiées</translation>
    </message>
    <message>
        <source>the ZARN driver is not loaded</source>
        <translation>le pilote ZARN n&apos;est pas chargé</translation>
    </message>
    <message>
        <source>%1; this system&apos;s hardware is %2</source>
        <translation>%1 ; le matériel de ce système est %2</translation>
    </message>
    <message>
        <source>%1 needs hardware %2 or newer</source>
        <translation>%1 exige le matériel %2 ou plus récent</translation>
    </message>
    <message>
        <source>%1 is version %2, older than version %3 written and verified at %4 on %5</source>
        <translation>%1 est en version %2, plus ancienne que la version %3 écrite et vérifiée à %4 le %5</translation>
    </message>
    <message>
        <source>the history cannot be read whole (%1), so whether an image is older than the one last written in its place cannot be checked</source>
        <translation>l&apos;historique ne peut pas être lu en entier (%1), on ne peut donc pas vérifier si une image est plus ancienne que la dernière écrite à sa place</translation>
    </message>
    <message>
        <source>%1 could not be read: %2</source>
        <translation>%1 n&apos;a pas pu être lu : %2</translation>
    </message>
    <message>
        <source>the computer runs on battery, and the site&apos;s settings cannot be used: %1</source>
        <translation>l&apos;ordinateur fonctionne sur batterie, et les réglages du site ne peuvent pas être utilisés : %1</translation>
    </message>
    <message>
        <source>the computer runs on battery, and its charge cannot be read (UPower says %1): connect it to mains power</source>
        <translation>l&apos;ordinateur fonctionne sur batterie, et sa charge ne peut pas être lue (UPower indique %1) : branchez-le sur le secteur</translation>
    </message>
    <message>
        <source>the computer runs on battery at %1 %, below the %2 % an update needs: connect it to mains power</source>
        <translation>l&apos;ordinateur fonctionne sur batterie à %1 %, sous les %2 % qu&apos;exige une mise à jour : branchez-le sur le secteur</translation>
    </message>
    <message>
        <source>%1 (the site&apos;s settings cannot be used: an update on battery is refused)</source>
        <translation>%1 (les réglages du site ne peuvent pas être utilisés : une mise à jour sur batterie est refusée)</translation>
    </message>
    <message>
        <source>%1 cannot be read: %2</source>
        <translation>%1 ne peut pas être lu : %2</translation>
    </message>
    <message>
        <source>larger than %1 KiB</source>
        <translation>plus grand que %1 Kio</translation>
    </message>
    <message>
        <source>not UTF-8 text</source>
        <translation>ce n&apos;est pas du texte UTF-8</translation>
    </message>
    <message>
        <source>unknown section [%1], passed over with its settings (names are lower case: %2)</source>
        <translation>section inconnue [%1], ignorée avec ses réglages (les noms sont en minuscules : %2)</translation>
    </message>
    <message>
        <source>unknown section [%1], passed over with its settings</source>
        <translation>section inconnue [%1], ignorée avec ses réglages</translation>
    </message>
    <message>
        <source>neither a section, a setting nor a comment</source>
        <translation>ni une section, ni un réglage, ni un commentaire</translation>
    </message>
    <message>
        <source>%1 is outside any section, passed over (it belongs in [%2])</source>
        <translation>%1 est hors de toute section, ignoré (il va dans [%2])</translation>
    </message>
    <message>
        <source>%1 is outside any section, passed over</source>
        <translation>%1 est hors de toute section, ignoré</translation>
    </message>
    <message>
        <source>unknown key %1 in [%2], passed over (names are lower case: %3)</source>
        <translation>clé inconnue %1 dans [%2], ignorée (les noms sont en minuscules : %3)</translation>
    </message>
    <message>
        <source>unknown key %1 in [%2], passed over</source>
        <translation>clé inconnue %1 dans [%2], ignorée</translation>
    </message>
    <message>
        <source>%1 given again in [%2] (first on line %3)</source>
        <translation>%1 donné de nouveau dans [%2] (la première fois ligne %3)</translation>
    </message>
    <message>
        <source>%1 is not a whole number from %2 to %3: &quot;%4&quot;</source>
        <translation>%1 n&apos;est pas un nombre entier de %2 à %3 : « %4 »</translation>
    </message>
    <message>
        <source>%1:%2: %3</source>
        <translation>%1:%2: %3</translation>
    </message>
    <message>
        <source>Input/output error</source>
        <translation>Erreur d&apos;entrée/sortie</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Permission non accordée</translation>
    </message>
    <message>
        <source>Operation not permitted</source>
        <translation>Opération non permise</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>Aucun fichier ou dossier de ce type</translation>
    </message>
    <message>
        <source>No such device</source>
        <translation>Aucun périphérique de ce type</translation>
    </message>
    <message>
        <source>No such device or address</source>
        <translation>Aucun périphérique ou adresse</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>Aucun espace disponible sur le périphérique</translation>
    </message>
    <message>
        <source>Disk quota exceeded</source>
        <translation>Quota de disque dépassé</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>Système de fichiers accessible en lecture seulement</translation>
    </message>
    <message>
        <source>Device or resource busy</source>
        <translation>Périphérique ou ressource occupé</translation>
    </message>
    <message>
        <source>Resource temporarily unavailable</source>
        <translation>Ressource temporairement non disponible</translation>
    </message>
    <message>
        <source>Interrupted system call</source>
        <translation>Appel système interrompu</translation>
    </message>
    <message>
        <source>Invalid argument</source>
        <translation>Argument invalide</translation>
    </message>
    <message>
        <source>Bad address</source>
        <translation>Mauvaise adresse</translation>
    </message>
    <message>
        <source>Cannot allocate memory</source>
        <translation>Impossible d&apos;allouer de la mémoire</translation>
    </message>
    <message>
        <source>Inappropriate ioctl for device</source>
        <translation>Ioctl() inapproprié pour un périphérique</translation>
    </message>
    <message>
        <source>Too many open files</source>
        <translation>Trop de fichiers ouverts</translation>
    </message>
    <message>
        <source>Is a directory</source>
        <translation>Est un dossier</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>N&apos;est pas un dossier</translation>
    </message>
    <message>
        <source>File exists</source>
        <translation>Le fichier existe</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>ZARN Update Utility</source>
        <translation>Utilitaire de mise à jour ZARN</translation>
    </message>
    <message>
        <source>Current Version of ZARN System:</source>
        <translation>Version actuelle du système ZARN :</translation>
    </message>
    <message>
        <source>Current HW timestamp:</source>
        <translation>Horodatage HW actuel :</translation>
    </message>
    <message>
        <source>Current SW version:</source>
        <translation>Version SW actuelle :</translation>
    </message>
    <message>
        <source>Current PID version:</source>
        <translation>Version PID actuelle :</translation>
    </message>
    <message>
        <source>ZARN Update Image file:</source>
        <translation>Fichier de mise à jour ZARN :</translation>
    </message>
    <message>
        <source>Enter image file name or search for it (button &apos;...&apos;)</source>
        <translation>Saisir le nom du fichier de mise à jour ou le chercher (bouton « ... »)</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Get Image Info</source>
        <translation>Afficher les images</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Mettre à jour</translation>
    </message>
    <message>
        <source>Current progress:</source>
        <translation>Progression actuelle :</translation>
    </message>
    <message>
        <source>Total progress:</source>
        <translation>Progression totale :</translation>
    </message>
    <message>
        <source>Time elapsed:</source>
        <translation>Temps écoulé :</translation>
    </message>
    <message>
        <source>Time remaining: </source>
        <translation>Temps restant : </translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Parcourir</translation>
    </message>
    <message>
        <source>Choose the ZARN update image file</source>
        <translation>Choisir le fichier de mise à jour ZARN</translation>
    </message>
    <message>
        <source>Enter image file name or search for it with Browse</source>
        <translation>Saisir le nom du fichier de mise à jour ou le chercher avec « Parcourir »</translation>
    </message>
    <message>
        <source>Velmora ZARN</source>
        <translation>Velmora ZARN</translation>
    </message>
    <message>
        <source>Update status</source>
        <translation>État de la mise à jour</translation>
    </message>
    <message>
        <source>.

Update all the same?</source>
        <translation>.

Mettre à jour malgré tout ?</translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation>Batterie faible</translation>
    </message>
    <message>
        <source>No room for a recovery copy</source>
        <translation>Pas de place pour une copie de récupération</translation>
    </message>
    <message>
        <source>Older image</source>
        <translation>Image plus ancienne</translation>
    </message>
    <message>
        <source>Hardware requirement</source>
        <translation>Exigence matérielle</translation>
    </message>
    <message>
        <source>Version %1 build %2</source>
        <translation>Version %1 build %2</translation>
    </message>
    <message>
        <source>Cannot open file</source>
        <translation>Impossible d&apos;ouvrir le fichier</translation>
    </message>
    <message>
        <source>System file </source>
        <translation>Le fichier système </translation>
    </message>
    <message>
        <source> could not be opened.

Please check if ZARN driver is loaded.
Application will now quit.
</source>
        <translation> n&apos;a pas pu être ouvert.

Veuillez vérifier que le pilote ZARN est chargé.
L&apos;application va maintenant se fermer.
</translation>
    </message>
    <message>
        <source>Open ZARN Update Image file</source>
        <translation>Ouvrir un fichier de mise à jour ZARN</translation>
    </message>
    <message>
        <source>ZARN RU Image (*.zarnru)</source>
        <translation>Fichier de mise à jour ZARN (*.zarnru)</translation>
    </message>
    <message>
        <source>Invalid filename</source>
        <translation>Nom de fichier non valide</translation>
    </message>
    <message>
        <source>The filename is not valid.

Expecting file extenison: .zarnru, instead got: .</source>
        <translation>Le nom du fichier n&apos;est pas valide.

Extension attendue : .zarnru, extension reçue : .</translation>
    </message>
    <message>
        <source>Flash memory busy</source>
        <translation>Mémoire flash occupée</translation>
    </message>
    <message>
        <source>Update file refused</source>
        <translation>Fichier de mise à jour refusé</translation>
    </message>
    <message>
        <source>Recovery copy refused</source>
        <translation>Copie de récupération refusée</translation>
    </message>
    <message>
        <source>Update cut short</source>
        <translation>Mise à jour interrompue</translation>
    </message>
    <message>
        <source>The update of the ZARN flash started %1 by %2 from %3 did not end verified: the ZARN system may not start.

The update can be finished from the copy kept of it, or the flash can be given back what it held before.</source>
        <translation>La mise à jour du flash ZARN lancée le %1 par %2 depuis %3 ne s&apos;est pas terminée vérifiée : le système ZARN risque de ne pas démarrer.

La mise à jour peut être achevée à partir de la copie conservée, ou la mémoire flash peut retrouver son contenu antérieur.</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Plus tard</translation>
    </message>
    <message>
        <source>Finish the update</source>
        <translation>Achever la mise à jour</translation>
    </message>
    <message>
        <source>Restore the previous contents</source>
        <translation>Restaurer le contenu précédent</translation>
    </message>
    <message>
        <source>The recovery copy %1 cannot be read.</source>
        <translation>La copie de récupération %1 ne peut pas être lue.</translation>
    </message>
    <message>
        <source>The recovery copy %1 has changed since it was kept: its SHA-256 is not the history&apos;s.</source>
        <translation>La copie de récupération %1 a changé depuis qu&apos;elle a été conservée : son SHA-256 n&apos;est pas celui de l&apos;historique.</translation>
    </message>
    <message>
        <source>Error in %1: %2</source>
        <translation>Erreur dans %1 : %2</translation>
    </message>
</context>
<context>
    <name>RunAnnouncer</name>
    <message>
        <source>Comparing the flash memory with the update</source>
        <translation>Comparaison de la mémoire flash avec la mise à jour</translation>
    </message>
    <message>
        <source>Erasing image %1 of %2, %3</source>
        <translation>Effacement de l&apos;image %1 sur %2, %3</translation>
    </message>
    <message>
        <source>Writing image %1 of %2, %3</source>
        <translation>Écriture de l&apos;image %1 sur %2, %3</translation>
    </message>
    <message>
        <source>Verifying image %1 of %2, %3</source>
        <translation>Vérification de l&apos;image %1 sur %2, %3</translation>
    </message>
    <message>
        <source>Reading back the whole update</source>
        <translation>Relecture de toute la mise à jour</translation>
    </message>
</context>
<context>
    <name>RunDesktopReport</name>
    <message>
        <source>ZARN update complete</source>
        <translation>Mise à jour ZARN terminée</translation>
    </message>
    <message>
        <source>ZARN update failed</source>
        <translation>Échec de la mise à jour ZARN</translation>
    </message>
    <message>
        <source>ZARN update did not start</source>
        <translation>La mise à jour ZARN n&apos;a pas commencé</translation>
    </message>
</context>
<context>
    <name>RunGuard</name>
    <message>
        <source>The update failed</source>
        <translation>La mise à jour a échoué</translation>
    </message>
    <message>
        <source>The last update did not finish: the flash memory is not as the update file wants it, and the ZARN system may not start.

Run the update again before restarting the computer. Close the window anyway?</source>
        <translation>La dernière mise à jour ne s&apos;est pas terminée : la mémoire flash n&apos;est pas telle que le fichier de mise à jour la veut, et le système ZARN risque de ne pas démarrer.

Relancez la mise à jour avant de redémarrer l&apos;ordinateur. Fermer la fenêtre malgré tout ?</translation>
    </message>
    <message>
        <source>Update in progress</source>
        <translation>Mise à jour en cours</translation>
    </message>
    <message>
        <source>An update is under way and the window cannot be closed now.

Closing it before the update has finished could leave the ZARN system unable to start. Please wait until the update is done.</source>
        <translation>Une mise à jour est en cours et la fenêtre ne peut pas être fermée maintenant.

La fermer avant la fin de la mise à jour pourrait empêcher le système ZARN de démarrer. Veuillez attendre la fin de la mise à jour.</translation>
    </message>
</context>
<context>
    <name>zarn-update-utility</name>
    <message>
        <source>Usage: zarn-update-utility [-f | --force] [toolkit options]

Shows the versions installed on the ZARN system and updates its flash memory
from an update file (.zarnru). Needs read and write access to /dev/zarn_flash
and /dev/zarn_mailbox (membership of the group zarn).

  -f, --force  keep the window open when the ZARN driver cannot be reached
  --help       show this help and exit
  --version    show the version and exit

Only the first argument is looked at; the toolkit&apos;s own options (-platform,
-style, ...) are passed on. See zarn-update-utility(1).
</source>
        <translation>Usage : zarn-update-utility [-f | --force] [options de la boîte à outils]

Affiche les versions installées sur le système ZARN et met à jour sa mémoire
flash depuis un fichier de mise à jour (.zarnru). Demande l&apos;accès en lecture et
en écriture à /dev/zarn_flash et /dev/zarn_mailbox (membre du groupe zarn).

  -f, --force  garder la fenêtre ouverte si le pilote ZARN est injoignable
  --help       afficher cette aide et quitter
  --version    afficher la version et quitter

Seul le premier argument est examiné ; les options de la boîte à outils
(-platform, -style, ...) sont transmises. Voir zarn-update-utility(1).
</translation>
    </message>
    <message>
        <source>%1: cannot open the window: %2</source>
        <translation>%1 : impossible d&apos;ouvrir la fenêtre : %2</translation>
    </message>
    <message>
        <source>no display could be reached (is the X server or Wayland compositor running?)</source>
        <translation>aucun affichage n&apos;est joignable (le serveur X ou le compositeur Wayland tourne-t-il ?)</translation>
    </message>
    <message>
        <source>no display (neither DISPLAY nor WAYLAND_DISPLAY is set)</source>
        <translation>pas d&apos;affichage (ni DISPLAY ni WAYLAND_DISPLAY n&apos;est défini)</translation>
    </message>
</context>
</TS>
